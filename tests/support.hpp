#pragma once
// What the tests share besides the harness: byte helpers, reference
// implementations written from the formats' definitions (never from velk's
// own code, so that a fault in velk cannot hide in its own reference), and
// the console lines that several test files expect.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "harness.hpp"

namespace velk::test {

// ---- Bytes ----

std::span<const std::uint8_t> span_of(std::string_view bytes);
// `value` as `bytes` little-endian bytes.
Bytes le(std::uint64_t value, int bytes);
// The little-endian 32-bit word at `at`.
std::uint32_t le32_at(std::string_view bytes, std::size_t at);

// Runs a shell command; its standard output, or nothing when it fails.
std::optional<std::string> shell(const std::string& command);

// ---- CRCs ----

// CRC-16/CMS bit by bit from its definition: each message bit, most
// significant first, shifted into a register that starts at 0xFFFF and is
// reduced by x^16 + x^15 + x^2 + 1; no final XOR.
std::uint16_t ref_crc16_cms(std::string_view message);
// CRC-32/JAMCRC: the complement of zlib's CRC-32.
std::uint32_t jamcrc(std::string_view message);

// ---- The keyed word scrambler ----

struct Keys {
    std::uint32_t key1 = 0;
    std::uint32_t key2 = 0;
    std::uint32_t key3 = 0;
    std::uint32_t control = 0;
};
// What every command uses without "-e": 00A5A5A5 four times, whose control
// word's top byte turns scrambling off.
inline constexpr Keys unscrambled{0x00A5A5A5, 0x00A5A5A5, 0x00A5A5A5, 0x00A5A5A5};

// The three mixers, switched on, computed one output bit at a time.
std::uint32_t ref_mix16(std::uint32_t x);
std::uint32_t ref_mix17(std::uint32_t x);
std::uint32_t ref_mix32(std::uint32_t x);
// The mask XORed into the word at `address`, one bit at a time.
std::uint32_t ref_mask(const Keys& keys, std::uint32_t address);

// ---- The flash CRC image ----

// The input padded with 0xFF to whole 32-byte blocks; every little-endian
// word XORed with the mask of its offset; each block followed by its
// CRC-16/CMS, high byte first.
Bytes ref_flash_crc_image(Bytes input, const Keys& keys = unscrambled);
// The ".out" twin: two lower-case digits and CR LF per image byte.
Bytes ref_twin(const Bytes& image);
// 1 to 256 bytes of 0xFF appended, to a multiple of 256 bytes.
Bytes padded_to_256(const Bytes& image);

// ---- Console lines ----

// The -crc writer's two success lines for an image of that size.
std::string encrypt_success(std::uint64_t image_size);

// The lines an -oad run prints before it touches a file: the option
// notices in their fixed order, then the start lines. Each field says
// whether the command line gave that option.
struct OadLines {
    std::uint32_t version = 0x102;
    bool version_given = true;   // else the default is announced
    bool link_given = false;     // else the default link address is announced
    std::uint32_t stack_at = 0;  // "-m" given when nonzero: announced
    bool rom_given = false;
    bool keys_given = false;     // "-e": the default keys are not announced
};
// The option notices alone.
std::string oad_notices(const OadLines& run);
// The notices and the start lines.
std::string oad_opening(const OadLines& run = {});
// How a failed -oad run ends: the removal exit and the closing exit.
inline const std::string removal_exit = "create_fexit \r\nopen_fexit \r\n";
inline const std::string closing_exit = "open_fexit \r\n";

// -txt's settings lines.
std::string txt_settings(const std::string& bin, int comma, int prefix, int type);
// -c's settings lines, before the output name is known.
std::string c_settings(const std::string& bin, const std::string& given_name, int type);
// The refusal of an output that would land on the input, a.bin.
std::string refused(const std::string& output);
inline const std::string bad_type = "set type exceptionally, and it will be 8, 16, 32.\r\n";

}  // namespace velk::test
