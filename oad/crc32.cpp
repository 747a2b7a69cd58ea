#include "oad/crc32.hpp"

#include <array>

namespace velk {
namespace {

// Slicing-by-8: tables[k][i] is the register after byte i followed by k
// zero bytes, so eight input bytes are folded with eight lookups.
using crc_tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr crc_tables make_tables() {
    crc_tables t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int round = 0; round < 8; ++round) c = (c & 1u) ? (c >> 1) ^ crc32_poly : c >> 1;
        t[0][i] = c;
    }
    for (std::size_t k = 1; k < 8; ++k) {
        for (std::size_t i = 0; i < 256; ++i) {
            const std::uint32_t prev = t[k - 1][i];
            t[k][i] = (prev >> 8) ^ t[0][prev & 0xFFu];
        }
    }
    return t;
}

constexpr crc_tables tables = make_tables();
static_assert(tables[0][128] == crc32_poly);

// Product of two polynomials modulo the CRC polynomial, reflected.
std::uint32_t multmodp(std::uint32_t a, std::uint32_t b) {
    std::uint32_t m = 1u << 31;
    std::uint32_t p = 0;
    while (m != 0) {
        if (a & m) p ^= b;
        m >>= 1;
        b = (b & 1u) ? (b >> 1) ^ crc32_poly : b >> 1;
    }
    return p;
}

// x^(8 * len) modulo the polynomial, by squaring.
std::uint32_t x8nmodp(std::uint64_t len) {
    std::uint32_t result = 1u << 31;  // x^0
    std::uint32_t power = 1u << 23;   // x^8
    while (len != 0) {
        if (len & 1u) result = multmodp(power, result);
        power = multmodp(power, power);
        len >>= 1;
    }
    return result;
}

}  // namespace

int crc32_init_table() { return 0; }

std::uint32_t crc32_table_entry(std::uint8_t i) { return tables[0][i]; }

std::uint32_t crc32_update(std::uint32_t crc, std::span<const std::uint8_t> data) {
    const std::uint8_t* p = data.data();
    std::size_t n = data.size();
    while (n >= 8) {
        const std::uint32_t lo = crc ^ (std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                        std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24);
        crc = tables[7][lo & 0xFFu] ^ tables[6][(lo >> 8) & 0xFFu] ^
              tables[5][(lo >> 16) & 0xFFu] ^ tables[4][lo >> 24] ^ tables[3][p[4]] ^
              tables[2][p[5]] ^ tables[1][p[6]] ^ tables[0][p[7]];
        p += 8;
        n -= 8;
    }
    while (n-- != 0) crc = (crc >> 8) ^ tables[0][(crc ^ *p++) & 0xFFu];
    return crc;
}

std::uint32_t crc32_shift(std::uint32_t crc, std::uint64_t len) {
    return multmodp(x8nmodp(len), crc);
}

}  // namespace velk
