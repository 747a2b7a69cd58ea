#pragma once
// The two CRCs of velk's formats, each built from the parameters a CRC
// catalogue lists for it, so every constant here can be checked against the
// catalogue entry (its check value) rather than against a hand-written table.
// The tables are computed at compile time from the bitwise step.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/core/le_words.hpp"
#include "io/cpu.hpp"

namespace velk {

// One catalogue entry: width, polynomial (normal form, without its top bit),
// initial register, whether input bytes and the result are bit-reflected,
// the final XOR, the CRC of the ASCII digits "123456789" (check) and the
// register left after a message followed by its own CRC (residue).
struct crc_model {
    unsigned width;
    std::uint32_t poly;
    std::uint32_t init;
    bool refin;
    bool refout;
    std::uint32_t xorout;
    std::uint32_t check;
    std::uint32_t residue;
};

// The block checksum of the flash CRC image, CRC-16/CMS in the catalogue.
// To change the polynomial of the flash blocks, change this entry: the
// tables follow.
inline constexpr crc_model crc16_cms_model{
    16, 0x8005, 0xFFFF, false, false, 0x0000, 0xAEE7, 0x0000};

// The checksum in every OAD header, CRC-32/JAMCRC in the catalogue: the
// common CRC-32 without its final complement.
inline constexpr crc_model crc32_jamcrc_model{
    32, 0x04C11DB7, 0xFFFFFFFF, true, true, 0x00000000, 0x340BC6D9, 0x00000000};

// Table-driven CRC for a 16-bit model that reflects neither its input nor
// its output (data taken most significant bit first).
template <const crc_model& model>
class Crc16 {
    static_assert(model.width == 16 && !model.refin && !model.refout,
                  "Crc16 covers unreflected 16-bit models only");

public:
    // The register before the first byte.
    static constexpr std::uint16_t start() { return static_cast<std::uint16_t>(model.init); }

    // Feeds bytes into a running register; a message may be fed piecewise.
    // Eight bytes at a time go through eight independent lookups, which
    // keeps the register's dependency chain short on long inputs; on the
    // flash image's 32-byte blocks this is also faster than a table per
    // byte position of the block, which needs no register at all.
    static constexpr std::uint16_t update(std::uint16_t reg, std::span<const std::uint8_t> bytes) {
        const std::uint8_t* p = bytes.data();
        std::size_t left = bytes.size();
        for (; left >= 8; left -= 8, p += 8) {
            reg = static_cast<std::uint16_t>(
                tables[7][(reg >> 8) ^ p[0]] ^ tables[6][(reg & 0xFFu) ^ p[1]] ^
                tables[5][p[2]] ^ tables[4][p[3]] ^ tables[3][p[4]] ^ tables[2][p[5]] ^
                tables[1][p[6]] ^ tables[0][p[7]]);
        }
        for (; left != 0; --left, ++p) {
            reg = static_cast<std::uint16_t>((reg << 8) ^ tables[0][(reg >> 8) ^ *p]);
        }
        return reg;
    }

    // The CRC value of a finished register.
    static constexpr std::uint16_t finish(std::uint16_t reg) {
        return static_cast<std::uint16_t>(reg ^ model.xorout);
    }

    // CRC of one whole message.
    static constexpr std::uint16_t compute(std::span<const std::uint8_t> bytes) {
        return finish(update(start(), bytes));
    }

    // One step of the definition: the register after one more data bit.
    static constexpr std::uint16_t bit_step(std::uint16_t reg, unsigned bit) {
        const bool top = ((reg >> 15) ^ bit) & 1u;
        reg = static_cast<std::uint16_t>(reg << 1);
        return top ? static_cast<std::uint16_t>(reg ^ model.poly) : reg;
    }

private:
    using table = std::array<std::uint16_t, 256>;

    // tables[0][v]: the register after shifting top byte v through eight
    // steps. tables[k][v]: the same followed by k zero bytes, which is what
    // byte v contributes when k more bytes follow it in one step of update.
    static constexpr std::array<table, 8> make_tables() {
        std::array<table, 8> t{};
        for (unsigned v = 0; v < 256; ++v) {
            auto reg = static_cast<std::uint16_t>(v << 8);
            for (int bit = 0; bit < 8; ++bit) reg = bit_step(reg, 0);
            t[0][v] = reg;
        }
        for (std::size_t k = 1; k < t.size(); ++k) {
            for (unsigned v = 0; v < 256; ++v) {
                const std::uint16_t prev = t[k - 1][v];
                t[k][v] = static_cast<std::uint16_t>((prev << 8) ^ t[0][prev >> 8]);
            }
        }
        return t;
    }
    static constexpr std::array<table, 8> tables = make_tables();
};

// The constants that fold a reflected 32-bit CRC's data 128 bits at a time
// with carry-less multiplication: k(n) is x^n modulo the polynomial,
// reflected and shifted left by one, as the multiplication wants it;
// `poly` the polynomial reflected with its x^32 term, `mu` the quotient of
// x^64 by it, reflected (the Barrett reduction's).
struct crc32_fold_constants {
    std::uint64_t k544, k480, k160, k96, k64, poly, mu;
};

// The register after running `reg` over `data`, whose length is a
// multiple of 16 and at least 64, folded with carry-less multiplication;
// only where cpu_has_pclmul().
std::uint32_t fold_crc32(std::uint32_t reg, std::span<const std::uint8_t> data,
                         const crc32_fold_constants& k);

// Table-driven CRC for a 32-bit model that reflects both its input and its
// output (data taken least significant bit first), with the combination
// that finishes a CRC whose later data are only known as their own CRC.
// At run time, long data go 128 bits at a time through carry-less
// multiplication where the machine has it (fifteen times the speed of the
// tables here), with constants derived from the same parameters.
template <const crc_model& model>
class Crc32 {
    static_assert(model.width == 32 && model.refin && model.refout,
                  "Crc32 covers reflected 32-bit models only");

public:
    // The polynomial with its bits reversed, as a reflected register uses it.
    static constexpr std::uint32_t reflected_poly() {
        std::uint32_t r = 0;
        for (int i = 0; i < 32; ++i) r |= ((model.poly >> i) & 1u) << (31 - i);
        return r;
    }

    static constexpr std::uint32_t start() { return model.init; }

    // Feeds bytes into a running register, eight at a time through eight
    // independent lookups (slicing-by-8), or folded (see above).
    static constexpr std::uint32_t update(std::uint32_t reg, std::span<const std::uint8_t> data) {
        if (!std::is_constant_evaluated() && data.size() >= 64 && cpu_has_pclmul()) {
            const std::size_t whole = data.size() / 16 * 16;
            reg = fold_crc32(reg, data.first(whole), folds);
            data = data.subspan(whole);
        }
        const std::uint8_t* p = data.data();
        std::size_t n = data.size();
        for (; n >= 8; n -= 8, p += 8) {
            const std::uint32_t lo = reg ^ load_le32(p);
            reg = tables[7][lo & 0xFFu] ^ tables[6][(lo >> 8) & 0xFFu] ^
                  tables[5][(lo >> 16) & 0xFFu] ^ tables[4][lo >> 24] ^ tables[3][p[4]] ^
                  tables[2][p[5]] ^ tables[1][p[6]] ^ tables[0][p[7]];
        }
        for (; n != 0; --n, ++p) reg = (reg >> 8) ^ tables[0][(reg ^ *p) & 0xFFu];
        return reg;
    }

    static constexpr std::uint32_t finish(std::uint32_t reg) { return reg ^ model.xorout; }

    static constexpr std::uint32_t compute(std::span<const std::uint8_t> data) {
        return finish(update(start(), data));
    }

    // The register that results from running `reg` over `len` zero bytes,
    // in O(log len) steps. With it the register over A then B is
    // shift(reg_A, len(B)) ^ update(0, B): a CRC whose data are only
    // complete later can be finished without reading the data again.
    static constexpr std::uint32_t shift(std::uint32_t reg, std::uint64_t len) {
        return multiply_mod_poly(x_to_8n(len), reg);
    }

    // One step of the definition: the register after one more data bit.
    static constexpr std::uint32_t bit_step(std::uint32_t reg, unsigned bit) {
        const bool low = (reg ^ bit) & 1u;
        reg >>= 1;
        return low ? reg ^ reflected_poly() : reg;
    }

    static constexpr crc32_fold_constants make_fold_constants() {
        // x^n mod P in the reflected form is what the multiplication takes;
        // the shift by one makes up for the product of two reflected
        // values coming out one bit short.
        const auto k = [](std::uint64_t n) { return std::uint64_t{x_to_8n(n / 8)} << 1; };
        // The quotient of x^64 by P = x^32 + poly, by long division, then
        // reflected over its 33 bits.
        std::uint64_t quotient = 0;
        std::uint64_t rest = 0;
        for (int bit = 64; bit >= 0; --bit) {
            rest = (rest << 1) | (bit == 64 ? 1u : 0u);
            quotient <<= 1;
            if ((rest >> 32) & 1u) {
                rest ^= (std::uint64_t{1} << 32) | model.poly;
                quotient |= 1;
            }
        }
        std::uint64_t mu = 0;
        for (int i = 0; i <= 32; ++i) mu |= ((quotient >> i) & 1u) << (32 - i);
        return {k(544), k(480), k(160), k(96), k(64), (std::uint64_t{reflected_poly()} << 1) | 1u, mu};
    }
    static constexpr crc32_fold_constants folds = make_fold_constants();

private:
    using table = std::array<std::uint32_t, 256>;

    // tables[k][i]: the register after byte i followed by k zero bytes.
    static constexpr std::array<table, 8> make_tables() {
        std::array<table, 8> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t reg = i;
            for (int bit = 0; bit < 8; ++bit) reg = bit_step(reg, 0);
            t[0][i] = reg;
        }
        for (std::size_t k = 1; k < t.size(); ++k) {
            for (std::size_t i = 0; i < 256; ++i) {
                const std::uint32_t prev = t[k - 1][i];
                t[k][i] = (prev >> 8) ^ t[0][prev & 0xFFu];
            }
        }
        return t;
    }
    static constexpr std::array<table, 8> tables = make_tables();

    // Product of two polynomials modulo the CRC polynomial, both reflected.
    static constexpr std::uint32_t multiply_mod_poly(std::uint32_t a, std::uint32_t b) {
        std::uint32_t product = 0;
        for (std::uint32_t m = 1u << 31; m != 0; m >>= 1) {
            if ((a & m) != 0) product ^= b;
            b = (b & 1u) != 0 ? (b >> 1) ^ reflected_poly() : b >> 1;
        }
        return product;
    }

    // x^(8 * len) modulo the polynomial, by squaring.
    static constexpr std::uint32_t x_to_8n(std::uint64_t len) {
        std::uint32_t result = 1u << 31;  // x^0
        std::uint32_t power = 1u << 23;   // x^8
        for (; len != 0; len >>= 1) {
            if ((len & 1u) != 0) result = multiply_mod_poly(power, result);
            power = multiply_mod_poly(power, power);
        }
        return result;
    }
};

using crc16_cms = Crc16<crc16_cms_model>;
using crc32_jamcrc = Crc32<crc32_jamcrc_model>;

namespace detail {
constexpr std::uint8_t check_digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
}
static_assert(crc16_cms::compute(detail::check_digits) == crc16_cms_model.check);
static_assert(crc32_jamcrc::compute(detail::check_digits) == crc32_jamcrc_model.check);
// The folding constants of this polynomial as they are published for it.
static_assert(crc32_jamcrc::folds.k544 == 0x154442bd4 && crc32_jamcrc::folds.k480 == 0x1c6e41596);
static_assert(crc32_jamcrc::folds.k160 == 0x1751997d0 && crc32_jamcrc::folds.k96 == 0x0ccaa009e);
static_assert(crc32_jamcrc::folds.k64 == 0x163cd6124);
static_assert(crc32_jamcrc::folds.poly == 0x1db710641 && crc32_jamcrc::folds.mu == 0x1f7011641);

}  // namespace velk
