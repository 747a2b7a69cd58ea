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

#include "formats/scramble/scramble.hpp"
#include "io/file.hpp"

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

// What stopped an encoding: reading the input, or writing the image or
// the twin.
enum class flash_crc_fault { none, read, image, twin };

struct flash_crc_result {
    flash_crc_fault fault = flash_crc_fault::none;
    std::uint64_t input_bytes = 0;  // input bytes converted
};

// Writes the flash CRC image of `input` (from its current position) to
// `image` and its text twin to `twin` (none: no twin), streaming block by
// block in constant memory, and flushes both; closing them is the
// caller's. With a known `size`, exactly that many bytes are converted and
// fewer is a read fault; without one, the input is read until it ends.
// The scrambler's addresses are 32 bits, so past 4 GiB they wrap.
flash_crc_result encode_flash_crc(File& input, std::optional<std::uint64_t> size,
                                  const scramble_keys& keys, byte_sink& image, byte_sink* twin);

// The same image and twin of the `size` bytes at the start of `input`,
// converted in pieces on up to `max_threads` threads and written where
// they belong from the start of `image` and `twin` (files that take
// positional reads and writes; see convert_pieces). The file positions
// are left alone. The same bytes, faults and result as encode_flash_crc,
// except that the errors are recorded in the Files (last_error()).
flash_crc_result encode_flash_crc_in_pieces(File& input, std::uint64_t size,
                                            const scramble_keys& keys, File& image, File* twin,
                                            unsigned max_threads);

}  // namespace velk
