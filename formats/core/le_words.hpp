#pragma once
// Little-endian words in byte buffers: 16- and 32-bit ones as the OAD
// header holds them, 32-bit ones as the scrambler and the CRC-32 read
// them, 64-bit ones as the text formats store eight characters at a time.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace velk {

constexpr std::uint16_t load_le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline void store_le16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

constexpr std::uint32_t load_le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void store_le32(std::uint8_t* p, std::uint32_t v) {
    // Built whole and copied in one piece, which compilers turn into one store.
    const std::array<std::uint8_t, 4> bytes = {
        static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
        static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    std::memcpy(p, bytes.data(), bytes.size());
}

inline void store_le64(std::uint8_t* p, std::uint64_t v) {
    std::array<std::uint8_t, 8> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(v >> (8 * i));
    std::memcpy(p, bytes.data(), bytes.size());
}

}  // namespace velk
