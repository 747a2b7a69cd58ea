#pragma once
// CRC-32/JAMCRC, the checksum in every OAD header: width 32, polynomial
// 0x04C11DB7 reflected (0xEDB88320), initial register 0xFFFFFFFF, input and
// output reflected, no final complement. Check value over "123456789":
// 0x340BC6D9 (the bitwise complement of the common IEEE CRC-32).

#include <cstdint>
#include <span>

namespace velk {

inline constexpr std::uint32_t crc32_poly = 0xEDB88320u;  // reflected 0x04C11DB7
inline constexpr std::uint32_t crc32_init = 0xFFFFFFFFu;
inline constexpr std::uint32_t crc32_check = 0x340BC6D9u;

// The byte table is compile-time data; this only confirms it is ready and
// returns 0. Entry i is i run through eight rounds of the reflected divide.
int crc32_init_table();
std::uint32_t crc32_table_entry(std::uint8_t i);

// Folds bytes into a running register and returns the new register. The
// caller chooses the start value (crc32_init for a fresh CRC).
std::uint32_t crc32_update(std::uint32_t crc, std::span<const std::uint8_t> data);

// The register that results from running `crc` over `len` zero bytes,
// computed in O(log len). With it, the CRC of A followed by B is
// crc32_shift(crc_of_A, len(B)) ^ crc32_update(0, B): a CRC whose input is
// only complete later can be finished without reading the data again.
std::uint32_t crc32_shift(std::uint32_t crc, std::uint64_t len);

}  // namespace velk
