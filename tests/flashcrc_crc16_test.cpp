#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "flashcrc/crc16.hpp"
#include "harness.hpp"

namespace velk {
namespace {

std::span<const std::uint8_t> bytes_of(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Straight from the definition: shift each message bit, most significant
// first, into the register and reduce by the polynomial.
std::uint16_t bitwise_cms(std::span<const std::uint8_t> bytes) {
    std::uint16_t reg = 0xFFFF;
    for (const std::uint8_t b : bytes) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = ((reg >> 15) ^ (b >> bit)) & 1u;
            reg = static_cast<std::uint16_t>(reg << 1);
            if (top) reg ^= 0x8005;
        }
    }
    return reg;
}

TEST(Crc16, CheckValueOfTheCatalogueEntry) {
    EXPECT_EQ(crc16_cms_model.check, 0xAEE7u);
    EXPECT_EQ(crc16_cms::compute(bytes_of("123456789")), crc16_cms_model.check);
    EXPECT_EQ(crc16_cms::compute({}), crc16_cms_model.init);
}

TEST(Crc16, MessageFollowedByItsCrcLeavesTheResidue) {
    std::vector<std::uint8_t> msg = {'1', '2', '3', '4', '5', '6', '7', '8', '9', 0xAE, 0xE7};
    EXPECT_EQ(crc16_cms::compute(msg), crc16_cms_model.residue);
}

TEST(Crc16, BlocksMatchValuesOfAnIndependentCrcLibrary) {
    // Computed with Python's crcmod (polynomial 0x18005, init 0xFFFF, unreflected).
    struct Case {
        test::Bytes block;
        std::uint16_t crc;
    };
    const Case cases[] = {
        {test::Bytes(32, '\xFF'), 0x000C},
        {test::Bytes(32, '\0'), 0x8029},
        {"abc" + test::Bytes(29, '\xFF'), 0x80DF},
        {test::counting(32), 0x259D},
        {test::counting(32, 32), 0x51E5},
        {test::counting(32, 0xE0), 0xE8F0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(crc16_cms::compute(bytes_of(c.block)), c.crc) << c.block;
    }
}

TEST(Crc16, TableEngineAgreesWithTheBitwiseDefinitionAtEveryLength) {
    // Lengths around the eight-byte step cover both loops and their seam.
    for (std::size_t len = 0; len <= 70; ++len) {
        const test::Bytes msg = test::noise(len, static_cast<std::uint32_t>(len + 7));
        EXPECT_EQ(crc16_cms::compute(bytes_of(msg)), bitwise_cms(bytes_of(msg))) << len;
    }
}

TEST(Crc16, FeedingPiecewiseGivesTheSameRegister) {
    const test::Bytes msg = test::noise(45, 3);
    const auto all = bytes_of(msg);
    for (std::size_t cut = 0; cut <= msg.size(); cut += 5) {
        const std::uint16_t head = crc16_cms::update(crc16_cms::start(), all.first(cut));
        EXPECT_EQ(crc16_cms::finish(crc16_cms::update(head, all.subspan(cut))),
                  crc16_cms::compute(all))
            << cut;
    }
}

}  // namespace
}  // namespace velk
