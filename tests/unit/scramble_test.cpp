// The keyed word scrambler against the test's own reference (support.cpp),
// which computes every mask bit by bit from the definition, after both
// have been checked against the published mixer values.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "formats/scramble/scramble.hpp"
#include "support.hpp"

namespace velk {
namespace {

scramble_keys words(const test::Keys& k) { return {k.key1, k.key2, k.key3, k.control}; }

class Scrambler : public ::testing::Test {
protected:
    std::uint32_t next() { return static_cast<std::uint32_t>(rng()); }
    // A control word with the master switch on (top byte neither 0x00 nor 0xFF).
    std::uint32_t switched_on() { return (1 + next() % 0xFE) << 24 | (next() & 0xFFFFFFu); }
    test::Keys random_keys() { return {next(), next(), next(), switched_on()}; }
    std::mt19937 rng{12345};
};

TEST(Mixers, PublishedValues) {
    enum Which { m16, m17, m32 };
    const struct {
        Which mixer;
        std::uint32_t x, value;
    } cases[] = {
        {m16, 0x0001, 0x0200},         {m16, 0x1234, 0x6935},         {m16, 0xFFFF, 0x9C8E},
        {m17, 0x00001, 0x00080},       {m17, 0x12345, 0x190D9},       {m17, 0x10000, 0x00040},
        {m17, 0x1FFFF, 0x0C9A6},       {m32, 0x00000001, 0x00020000}, {m32, 0x12345678, 0x48F88088},
        {m32, 0x80000000, 0x00010000}, {m32, 0xFFFFFFFF, 0x1AE65B0E},
    };
    for (const auto& c : cases) {
        switch (c.mixer) {
            case m16:
                EXPECT_EQ(mix16(static_cast<std::uint16_t>(c.x), false), c.value) << c.x;
                EXPECT_EQ(test::ref_mix16(c.x), c.value) << c.x;
                break;
            case m17:
                EXPECT_EQ(mix17(c.x, false), c.value) << c.x;
                EXPECT_EQ(test::ref_mix17(c.x), c.value) << c.x;
                break;
            case m32:
                EXPECT_EQ(mix32(c.x, false), c.value) << c.x;
                EXPECT_EQ(test::ref_mix32(c.x), c.value) << c.x;
                break;
        }
    }
}

TEST_F(Scrambler, MixersAgreeWithTheReferenceAndOffGivesZero) {
    for (int i = 0; i < 20000; ++i) {
        const std::uint32_t x = i < 4 ? 0xFFFFFFFFu >> (8 * i) : next();
        ASSERT_EQ(mix16(static_cast<std::uint16_t>(x), false), test::ref_mix16(x & 0xFFFF)) << x;
        ASSERT_EQ(mix17(x, false), test::ref_mix17(x & 0x1FFFF)) << x;  // reads 17 bits only
        ASSERT_EQ(mix32(x, false), test::ref_mix32(x)) << x;
        ASSERT_EQ(mix16(static_cast<std::uint16_t>(x), true), 0) << x;
        ASSERT_EQ(mix17(x, true), 0u) << x;
        ASSERT_EQ(mix32(x, true), 0u) << x;
    }
}

TEST_F(Scrambler, MaskAgreesWithTheReference) {
    // Random keys with the master switch on; in the first 2048 sets the
    // stage switches and selectors (control bits 0-6, 8-9 and 11-12) take
    // every combination once.
    for (unsigned set = 0; set < 4096; ++set) {
        test::Keys k = random_keys();
        if (set < 2048) {
            const std::uint32_t fields = (set & 0x7Fu) | ((set >> 7) & 3u) << 8 | ((set >> 9) & 3u) << 11;
            k.control = (k.control & ~0x1B7Fu) | fields;
        }
        const scramble_keys keys = words(k);
        for (int i = 0; i < 20; ++i) {
            const std::uint32_t address = i < 4 ? 0xFFFFFFFFu << (8 * i) : next();
            ASSERT_EQ(scramble_mask(keys, address), test::ref_mask(k, address))
                << std::hex << k.key1 << ' ' << k.key2 << ' ' << k.key3 << ' ' << k.control
                << " at " << address;
        }
    }
}

TEST_F(Scrambler, MasterSwitchOffLeavesEveryWordUnchanged) {
    for (const std::uint32_t top : {0x00u, 0xFFu}) {
        for (int i = 0; i < 200; ++i) {
            const test::Keys k{next(), next(), next(), top << 24 | (next() & 0xFFFFFFu)};
            const word_scrambler scrambler(words(k));
            EXPECT_TRUE(scrambling_off(words(k)));
            EXPECT_TRUE(scrambler.off());
            const std::uint32_t address = next();
            EXPECT_EQ(scramble_mask(words(k), address), 0u) << std::hex << k.control;
            EXPECT_EQ(scrambler.mask(address), 0u) << std::hex << k.control;
        }
    }
    EXPECT_TRUE(scrambling_off(default_scramble_keys));
    EXPECT_TRUE(scrambling_off({}));
}

TEST_F(Scrambler, AllStagesSwitchedOffLeaveDataUnchanged) {
    for (const std::uint32_t top : {0x01u, 0x5Au, 0xFEu}) {
        const scramble_keys keys{next(), next(), next(), top << 24 | (next() & 0xFFFFF0u) | 0xFu};
        EXPECT_FALSE(scrambling_off(keys));
        EXPECT_FALSE(word_scrambler(keys).off());
        EXPECT_EQ(scramble_mask(keys, next()), 0u);
    }
}

// Each stage alone, with the control word switching the other three off:
// the mask is that stage's mixer of the input the address and keys make
// for it, worked out here by hand for 0x12345678.
TEST(ScrambleMask, EachStageTakesItsInputFromAddressAndKeys) {
    constexpr std::uint32_t a = 0x12345678;
    constexpr std::uint32_t on = 0x01000000;
    constexpr std::uint32_t only16 = on | 0xE, only17 = on | 0xD, only32 = on | 0xB,
                            only_k3 = on | 0x7;
    using test::ref_mix16, test::ref_mix17, test::ref_mix32;
    const struct {
        std::uint32_t k1, k2, k3, control;
        std::uint32_t mask;
    } cases[] = {
        // mix16: fold selector in bits 5-6, K2's high half XORed in
        {0, 0x0001ABCD, 0, only16 | 0u << 5, ref_mix16(0x444C ^ 1) << 16},
        {0, 0x0001ABCD, 0, only16 | 1u << 5, ref_mix16(0x6A62 ^ 1) << 16},
        {0, 0x0001ABCD, 0, only16 | 2u << 5, ref_mix16(0x626A ^ 1) << 16},
        {0, 0x0001ABCD, 0, only16 | 3u << 5, ref_mix16(0x4C44 ^ 1) << 16},
        // mix17: shift selector in bits 8-9, K2's low bytes around bit 8 = control bit 4
        {0, 0x0001ABCD, 0, only17 | 0u << 8, ref_mix17(0x05678 ^ 0x156CD) & 0xFFFF},
        {0, 0x0001ABCD, 0, only17 | 1u << 8, ref_mix17(0x02B3C ^ 0x156CD) & 0xFFFF},
        {0, 0x0001ABCD, 0, only17 | 2u << 8, ref_mix17(0x1159E ^ 0x156CD) & 0xFFFF},
        {0, 0x0001ABCD, 0, only17 | 3u << 8 | 1u << 4, ref_mix17(0x08ACF ^ 0x157CD) & 0xFFFF},
        // mix32: rotate selector in bits 11-12, K1 XORed in
        {0x0F0F0F0F, 0, 0, only32 | 0u << 11, ref_mix32(0x12345678 ^ 0x0F0F0F0F)},
        {0x0F0F0F0F, 0, 0, only32 | 1u << 11, ref_mix32(0x78123456 ^ 0x0F0F0F0F)},
        {0x0F0F0F0F, 0, 0, only32 | 2u << 11, ref_mix32(0x56781234 ^ 0x0F0F0F0F)},
        {0x0F0F0F0F, 0, 0, only32 | 3u << 11, ref_mix32(0x34567812 ^ 0x0F0F0F0F)},
        // K3 unchanged
        {0x11111111, 0x22222222, 0xC0FFEE00, only_k3, 0xC0FFEE00},
    };
    for (const auto& c : cases) {
        const test::Keys k{c.k1, c.k2, c.k3, c.control};
        EXPECT_EQ(scramble_mask(words(k), a), c.mask) << std::hex << c.control;
        EXPECT_EQ(test::ref_mask(k, a), c.mask) << std::hex << c.control;
    }
}

TEST_F(Scrambler, Mix17TopBitNeverReachesTheMask) {
    for (int i = 0; i < 500; ++i) {
        const scramble_keys keys{next(), next(), next(), 0x01000000u | 0xDu | (next() & 0x1FF0u)};
        EXPECT_EQ(scramble_mask(keys, next()) >> 16, 0u);
    }
}

// The image writer's table scrambler rests on the mask being affine in the
// address; any key set and any address must give what scramble_mask gives,
// stage switches and the master switch included.
TEST_F(Scrambler, TableScramblerAgreesWithTheMask) {
    for (int set = 0; set < 200; ++set) {
        const scramble_keys keys{next(), next(), next(),
                                 set < 4 ? (set & 1 ? 0xFF000000u : 0u) | (next() & 0xFFFFFFu)
                                         : next()};
        const word_scrambler scrambler(keys);
        EXPECT_EQ(scrambler.off(), scrambling_off(keys));
        for (int i = 0; i < 100; ++i) {
            const std::uint32_t address = i < 4 ? 0xFFFFFFFFu << (8 * i) : next();
            const std::uint32_t data = next();
            ASSERT_EQ(scrambler.mask(address), scramble_mask(keys, address))
                << std::hex << keys.control << ' ' << address;
            ASSERT_EQ(scrambler.scramble(address, data), data ^ scramble_mask(keys, address));
            // Scrambling the scrambled word gives the data back.
            ASSERT_EQ(scrambler.scramble(address, scrambler.scramble(address, data)), data);
            // What the low byte of an address adds, whatever the rest.
            const std::uint32_t low = address & 0xFCu;
            ASSERT_EQ(scrambler.mask(address & ~0xFFu) ^ scrambler.offset_part(low),
                      scrambler.mask((address & ~0xFFu) | low));
        }
    }
}

}  // namespace
}  // namespace velk
