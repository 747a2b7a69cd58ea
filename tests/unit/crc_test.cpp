// The two CRCs of the formats against what velk did not compute itself:
// the catalogue's check and residue values, crcmod's values for a set of
// messages (crc_vectors.inc), the bitwise definition, and zlib.

#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <iostream>

#include <cstdint>
#include <string>
#include <vector>

#include "formats/crc/crc.hpp"
#include "support.hpp"

namespace velk {
namespace {

using test::Bytes;
using test::span_of;

struct Vector {
    const char* message;  // hexadecimal
    std::uint16_t cms;
    std::uint32_t jamcrc;
};
constexpr Vector crcmod_vectors[] = {
#include "crc_vectors.inc"
};

TEST(Crc, CatalogueCheckAndResidueValues) {
    const Bytes digits = "123456789";
    EXPECT_EQ(crc16_cms_model.check, 0xAEE7u);
    EXPECT_EQ(crc32_jamcrc_model.check, 0x340BC6D9u);
    EXPECT_EQ(crc16_cms::compute(span_of(digits)), crc16_cms_model.check);
    EXPECT_EQ(crc32_jamcrc::compute(span_of(digits)), crc32_jamcrc_model.check);
    EXPECT_EQ(crc16_cms::compute({}), crc16_cms_model.init);
    EXPECT_EQ(crc32_jamcrc::compute({}), crc32_jamcrc_model.init);

    // A message followed by its own CRC, in the order the model sends it:
    // high byte first unreflected, low byte first reflected.
    const std::uint16_t c16 = crc16_cms::compute(span_of(digits));
    const Bytes with16 = digits + static_cast<char>(c16 >> 8) + static_cast<char>(c16 & 0xFF);
    EXPECT_EQ(crc16_cms::compute(span_of(with16)), crc16_cms_model.residue);
    const Bytes with32 = digits + test::le(crc32_jamcrc::compute(span_of(digits)), 4);
    EXPECT_EQ(crc32_jamcrc::compute(span_of(with32)), crc32_jamcrc_model.residue);
}

TEST(Crc, AgreesWithCrcmod) {
    for (const Vector& v : crcmod_vectors) {
        const Bytes message = test::hex(v.message);
        EXPECT_EQ(crc16_cms::compute(span_of(message)), v.cms) << v.message;
        EXPECT_EQ(crc32_jamcrc::compute(span_of(message)), v.jamcrc) << v.message;
        // The test's own references must agree too before other tests use them.
        EXPECT_EQ(test::ref_crc16_cms(message), v.cms) << v.message;
        EXPECT_EQ(test::jamcrc(message), v.jamcrc) << v.message;
    }
}

TEST(Crc, AgreesWithTheBitwiseDefinitionAndZlibAtEveryLength) {
    // Lengths around the eight-byte step cover both loops and their seam.
    for (std::size_t len = 0; len <= 300; ++len) {
        const Bytes msg = test::noise(len, static_cast<std::uint32_t>(len + 7));
        ASSERT_EQ(crc16_cms::compute(span_of(msg)), test::ref_crc16_cms(msg)) << len;
        ASSERT_EQ(crc32_jamcrc::compute(span_of(msg)), test::jamcrc(msg)) << len;
    }
}

TEST(Crc, FeedingPiecewiseGivesTheSameRegister) {
    const Bytes msg = test::noise(45, 3);
    const auto all = span_of(msg);
    for (std::size_t cut = 0; cut <= msg.size(); ++cut) {
        const std::uint16_t head16 = crc16_cms::update(crc16_cms::start(), all.first(cut));
        EXPECT_EQ(crc16_cms::finish(crc16_cms::update(head16, all.subspan(cut))),
                  test::ref_crc16_cms(msg))
            << cut;
        const std::uint32_t head32 = crc32_jamcrc::update(crc32_jamcrc::start(), all.first(cut));
        EXPECT_EQ(crc32_jamcrc::finish(crc32_jamcrc::update(head32, all.subspan(cut))),
                  test::jamcrc(msg))
            << cut;
    }
}

// zlib's CRC-32 of `n` zero bytes, built from one zero byte by zlib's own
// combination (doubling), so that it reaches lengths no buffer holds.
uLong zlib_crc_of_zeros(std::uint64_t n) {
    const Bytef zero = 0;
    const uLong one = crc32(0L, &zero, 1);
    uLong crc = crc32(0L, Z_NULL, 0);
    std::uint64_t len = 0;
    for (int bit = 63; bit >= 0; --bit) {
        crc = crc32_combine(crc, crc, static_cast<z_off_t>(len));
        len *= 2;
        if (((n >> bit) & 1u) != 0) {
            crc = crc32_combine(crc, one, 1);
            len += 1;
        }
    }
    return crc;
}

uLong zlib_crc(const Bytes& data) {
    const auto bytes = span_of(data);
    return crc32(0L, bytes.data(), static_cast<uInt>(bytes.size()));
}

TEST(Crc32Shift, IsTheRegisterAfterThatManyZeroBytes) {
    // Directly, where the zeros fit in memory.
    for (const std::size_t n : {0u, 1u, 3u, 8u, 9u, 100u, 4096u}) {
        for (const std::uint32_t reg : {0u, 1u, 0x80000000u, 0xFFFFFFFFu, 0x12345678u}) {
            const Bytes zeros(n, '\0');
            EXPECT_EQ(crc32_jamcrc::shift(reg, n), crc32_jamcrc::update(reg, span_of(zeros)))
                << n << ' ' << reg;
        }
    }
    // Against zlib's combination, also past 4 GiB: the register after a
    // message A and n zeros is the complement of zlib's CRC of A + zeros.
    for (const std::uint64_t n : {std::uint64_t{0}, std::uint64_t{5}, std::uint64_t{1} << 20,
                                  (std::uint64_t{1} << 32) - 1, (std::uint64_t{1} << 32) + 3,
                                  std::uint64_t{0x123456789AB}}) {
        for (const std::uint32_t seed : {1u, 2u, 3u}) {
            const Bytes a = test::noise(13 * seed, seed);
            const std::uint32_t reg_a = crc32_jamcrc::update(crc32_jamcrc::start(), span_of(a));
            const auto want = static_cast<std::uint32_t>(
                ~crc32_combine(zlib_crc(a), zlib_crc_of_zeros(n), static_cast<z_off_t>(n)));
            EXPECT_EQ(crc32_jamcrc::shift(reg_a, n), want) << n << ' ' << seed;
        }
    }
}

// Long data are folded with carry-less multiplication where the machine
// has it: every length around its steps (64 bytes to start, then 64 and 16
// at a time, the rest by table), from any register and fed in pieces,
// against zlib.
TEST(Crc32Update, LongDataAgreeWithZlibAtEveryLengthAroundTheFoldingSteps) {
    if (!cpu_has_pclmul()) std::cout << "(no carry-less multiplication here: tables only)\n";
    const Bytes data = test::noise(70000, 77);
    const std::size_t lengths[] = {0,  15, 16, 63, 64,  65,  79,  80,  81,  127,
                                   128, 129, 143, 144, 1000, 4096, 65536 + 13, 70000};
    for (const std::size_t n : lengths) {
        const Bytes part = data.substr(0, n);
        const auto want = static_cast<std::uint32_t>(~zlib_crc(part));
        EXPECT_EQ(crc32_jamcrc::update(crc32_jamcrc::start(), span_of(part)), want) << n;
        // Fed as two pieces, split anywhere.
        for (const std::size_t split : {std::size_t{1}, n / 3, n - n / 5}) {
            if (split > n) continue;
            const std::uint32_t first =
                crc32_jamcrc::update(crc32_jamcrc::start(), span_of(part.substr(0, split)));
            EXPECT_EQ(crc32_jamcrc::update(first, span_of(part.substr(split))), want) << n << ' ' << split;
        }
    }
}

// The tables, which compile-time evaluation always takes, and the folding
// agree on the same long message.
constexpr std::array<std::uint8_t, 1000> long_message = [] {
    std::array<std::uint8_t, 1000> m{};
    std::uint32_t x = 12345;
    for (auto& b : m) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    return m;
}();
constexpr std::uint32_t long_message_by_table = crc32_jamcrc::update(0x89ABCDEF, long_message);

TEST(Crc32Update, TablesAndFoldingAgree) {
    EXPECT_EQ(crc32_jamcrc::update(0x89ABCDEF, long_message), long_message_by_table);
}

TEST(Crc32Shift, FinishesACrcWithoutRereadingTheData) {
    // The register over A then B is shift(reg_A, len(B)) ^ update(0, B).
    const Bytes a = test::noise(1000, 1);
    for (const std::size_t tail : {0u, 1u, 7u, 64u, 999u, 65536u + 3u}) {
        const Bytes b = test::noise(tail, static_cast<std::uint32_t>(tail + 2));
        const std::uint32_t combined =
            crc32_jamcrc::shift(crc32_jamcrc::update(crc32_jamcrc::start(), span_of(a)), b.size()) ^
            crc32_jamcrc::update(0, span_of(b));
        EXPECT_EQ(crc32_jamcrc::finish(combined), test::jamcrc(a + b)) << tail;
        const auto zlib_combined = static_cast<std::uint32_t>(
            ~crc32_combine(zlib_crc(a), zlib_crc(b), static_cast<z_off_t>(b.size())));
        EXPECT_EQ(crc32_jamcrc::finish(combined), zlib_combined) << tail;
    }
}

}  // namespace
}  // namespace velk
