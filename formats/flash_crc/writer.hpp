#pragma once
// The flash CRC image: the input cut into 32-byte blocks (the last one
// padded with 0xFF), each block's words scrambled by address and followed by
// the block's CRC-16/CMS, high byte first; and the ".out" text twin that
// spells every image byte as two lower-case hex digits and CR LF.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "formats/pieces/pieces.hpp"
#include "formats/scramble/scramble.hpp"
#include "io/access.hpp"
#include "io/fault.hpp"

namespace velk {

inline constexpr std::size_t block_data_bytes = 32;  // input bytes per block
inline constexpr std::size_t block_bytes = 34;       // data and CRC
inline constexpr std::size_t twin_line_bytes = 4;    // "xx\r\n" per image byte

// Length of the image for an input of input_size bytes: 34 bytes per
// started 32 bytes of input.
std::uint64_t crc_image_size(std::uint64_t input_size);

// Fills the data part of each block of image (34 bytes per block) from the
// matching 32 bytes of input, every little-endian word scrambled with its
// address: first_address plus its offset in input, modulo 2^32. The CRC
// bytes are left alone. input holds whole blocks; image is sized to match;
// first_address is a multiple of 32, as every block's address is.
void scramble_blocks(std::span<const std::uint8_t> input, std::span<std::uint8_t> image,
                     std::uint32_t first_address, const word_scrambler& scrambler);

// Stores in bytes 32-33 of each 34-byte block the CRC-16/CMS of its bytes
// 0-31, high byte first; every block starts afresh.
void crc16_blocks(std::span<std::uint8_t> image);

// Writes the twin's text for image into text, which holds 4 bytes per
// image byte.
void spell_twin(std::span<const std::uint8_t> image, std::span<std::uint8_t> text);

struct flash_crc_options {
    scramble_keys keys = default_scramble_keys;
    // 1 to 256 bytes of erased flash (0xFF) after the last block, so that
    // the image ends on a 256-byte boundary: the image a single OAD
    // update carries.
    bool pad_to_256 = false;
};

// Where an encoding goes: the image, and its text twin if wanted.
struct flash_crc_sinks {
    byte_sink& image;
    byte_sink* twin = nullptr;
};

struct flash_crc_written {
    std::uint64_t input_bytes = 0;  // input bytes converted
    std::uint64_t image_bytes = 0;  // image bytes written, end padding included
};

// Writes the flash CRC image of `input` and its text twin, and flushes
// both (closing them is the caller's). An input that can be read by offset
// has a known size: exactly that many bytes are converted, fewer is a read
// fault; when the image (and the twin) can be written by offset too, the
// blocks are converted in pieces on up to `max_threads` threads. Otherwise
// it streams, block by block in constant memory, from wherever the input
// stands until it ends. The same bytes either way. The scrambler's
// addresses are 32 bits, so past 4 GiB they wrap. A fault names the input,
// the image or the twin.
result<flash_crc_written> encode_flash_crc(byte_source& input, const flash_crc_options& options,
                                           const flash_crc_sinks& out,
                                           unsigned max_threads = available_threads());

}  // namespace velk
