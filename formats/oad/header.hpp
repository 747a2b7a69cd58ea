#pragma once
// The 16-byte header in front of every OAD image. To change its layout,
// change oad_header and the two functions below: every reader and writer
// goes through them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace velk {

inline constexpr std::size_t oad_header_size = 16;

// Offsets of the fields in the stored header; every field is little-endian.
struct oad_header {
    std::uint32_t crc = 0;           // 0: CRC-32/JAMCRC of the body after the header
    std::uint16_t version = 0;       // 4: low 16 bits of the image version
    std::uint16_t length_words = 0;  // 6: (16 + body length) / 4, low 16 bits only
    std::uint32_t uid = 0;           // 8
    std::array<std::uint8_t, 2> reserved{0xFF, 0xFF};  // 12
    std::uint16_t rom_version = 0;   // 14

    friend bool operator==(const oad_header&, const oad_header&) = default;
};

// The header as it is stored.
std::array<std::uint8_t, oad_header_size> encode_oad_header(const oad_header& h);

// The header stored in the first 16 bytes of `bytes`, which holds at least 16.
oad_header decode_oad_header(std::span<const std::uint8_t> bytes);

// The header of an image whose body (everything after the header) is
// body_len bytes long with CRC crc.
oad_header make_oad_header(std::uint32_t crc, std::uint64_t body_len, std::uint32_t version,
                           std::uint32_t uid, std::uint16_t rom_version);

// The image length that a header's length_words stands for.
inline std::uint64_t length_from_words(std::uint16_t length_words) {
    return std::uint64_t{length_words} * 4;
}

}  // namespace velk
