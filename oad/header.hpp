#pragma once
// The 16-byte header in front of every OAD image.

#include <array>
#include <cstdint>

namespace velk {

struct OAD_HDR_T {
    std::uint32_t crc = 0;           // CRC-32/JAMCRC of the body after the header
    std::uint16_t version = 0;       // low 16 bits of the image version
    std::uint16_t length_words = 0;  // (16 + body length) / 4, low 16 bits only
    std::uint32_t uid = 0;
    std::uint8_t reserved[2] = {0xFF, 0xFF};
    std::uint16_t rom_version = 0;
};

inline constexpr std::size_t oad_header_size = 16;

// The header as it is stored: fields in order, every one little-endian.
std::array<std::uint8_t, oad_header_size> header_bytes(const OAD_HDR_T& h);

// The header of an image whose body (everything after the header) is
// body_len bytes long with CRC crc.
OAD_HDR_T make_oad_header(std::uint32_t crc, std::uint64_t body_len, std::uint32_t version,
                          std::uint32_t uid, std::uint16_t rom_version);

}  // namespace velk
