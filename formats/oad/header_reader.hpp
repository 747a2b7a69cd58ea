#pragma once
// Reading an OAD header back: its fields as stored, the CRC-32 its body
// really has, the length its length_words stands for next to the real one,
// and which of its promises hold.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "formats/core/findings.hpp"
#include "formats/oad/header.hpp"

namespace velk {

struct oad_header_report {
    std::uint64_t offset = 0;        // of the header in the file
    oad_header stored{};
    std::uint32_t computed_crc = 0;  // CRC-32/JAMCRC of everything after the header
    std::uint64_t length = 0;        // the OAD image it heads: from it to the file's end

    bool crc_ok() const { return stored.crc == computed_crc; }
    // What length_words should hold: the image's whole words, low 16 bits.
    std::uint16_t expected_words() const { return static_cast<std::uint16_t>((length / 4) & 0xFFFF); }
    std::uint64_t implied_length() const { return length_from_words(stored.length_words); }
    bool length_ok() const { return stored.length_words == expected_words(); }
    // length_words is right only through its 16-bit wrap: the image has
    // 0x10000 words or more.
    bool wrapped() const { return length_ok() && implied_length() != length / 4 * 4; }
    bool reserved_ok() const { return stored.reserved[0] == 0xFF && stored.reserved[1] == 0xFF; }
};

// Adds a problem (with `part`) for each promise of `h` that fails: its
// CRC, its length_words and its reserved bytes.
void check_oad_header(const oad_header_report& h, image_part part, problem_list& problems);

// Adds a header_field problem for each field of `h` other than the CRC
// that is not what `written` holds.
void compare_oad_header(const oad_header_report& h, const oad_header& written, image_part part,
                        problem_list& problems);

// Whether the 16 bytes at `bytes` look like the header of an OAD image of
// `length` bytes, its CRC aside: reserved bytes FF FF and a length_words
// within 256 bytes of the length (through as many 16-bit wraps as the
// length has had), so that an image cut short or grown by a little is
// still recognised.
bool header_plausible(std::span<const std::uint8_t> bytes, std::uint64_t length);

// The uid's four bytes in stored order, when each is printable ASCII.
std::optional<std::string> printable_uid(std::uint32_t uid);

}  // namespace velk
