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

#include "flashcrc/scramble.hpp"

namespace velk {

inline constexpr std::size_t block_data_bytes = 32;  // input bytes per block
inline constexpr std::size_t block_bytes = 34;       // data and CRC
inline constexpr std::size_t twin_line_bytes = 4;    // "xx\r\n" per image byte

// Output names: for an input ending in ".bin", "<name without .bin>_crc.bin"
// and "<name without bin>out"; for any other input, "<name>_crc.bin" and
// "<name>.out".
struct crc_image_names {
    std::string image;
    std::string twin;
};
crc_image_names crc_output_names(std::string_view input);

// Length of the image for an input of input_size bytes: 34 bytes per
// started 32 bytes of input.
std::uint64_t crc_image_size(std::uint64_t input_size);

// Fills the data part of each block of image (34 bytes per block) from the
// matching 32 bytes of input, every little-endian word scrambled with its
// address: first_address plus its offset in input, modulo 2^32. The CRC
// bytes are left alone. input holds whole blocks; image is sized to match;
// first_address is a multiple of 32, as every block's address is. The
// scrambler holds the keys (by default the current key words).
void scramble_blocks(std::span<const std::uint8_t> input, std::span<std::uint8_t> image,
                     std::uint32_t first_address,
                     const word_scrambler& scrambler = word_scrambler());

// Stores in bytes 32-33 of each 34-byte block the CRC-16/CMS of its bytes
// 0-31, high byte first; every block starts afresh.
void crc16_blocks(std::span<std::uint8_t> image);

// Writes the twin's text for image into text, which holds 4 bytes per
// image byte.
void spell_twin(std::span<const std::uint8_t> image, std::span<std::uint8_t> text);

// Writes the image and twin of argv[1], scrambled with the key strings
// argv[2] to argv[5] (K1, K2, K3 and the control word), streaming block by
// block in constant memory. argv[0] is not read; argc must be 6. Refuses an
// output that is the input file itself. Returns 0 after printing the
// success and size lines, or -1 after one line on the failure: usage, an
// input that cannot be opened or read in full, an output that cannot be
// created, written or closed.
int encrypt_main(int argc, const char* const* argv);

// The -crc command: the unscrambled image of the third command-line token,
// wherever "-crc" stands; without a third token no file is touched.
int crc_command(int argc, const char* const* argv);

// Writes the image of name, which must end in ".bin", scrambled with the
// -oad command's encrypt_keys, and returns the image's name. Nothing when
// the name does not end in ".bin" (then nothing is written) or when the
// writer failed.
std::optional<std::string> encrypt_with_keys(const std::string& name);

}  // namespace velk
