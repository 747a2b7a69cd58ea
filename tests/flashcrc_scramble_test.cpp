#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "flashcrc/scramble.hpp"

namespace velk {
namespace {

// Sets the four key words for one test and clears them afterwards, since
// they are process-wide.
class Scrambler : public ::testing::Test {
protected:
    static void keys(std::uint32_t k1, std::uint32_t k2, std::uint32_t k3, std::uint32_t control) {
        scramble_key1 = k1;
        scramble_key2 = k2;
        scramble_key3 = k3;
        scramble_control = control;
    }
    void TearDown() override { keys(0, 0, 0, 0); }
    std::uint32_t next() { return static_cast<std::uint32_t>(rng()); }
    std::mt19937 rng{12345};
};

const std::string key_error = " Error: Parameter failed!\n";

TEST(ParseHexKey, ReadsBareHexDigitsAndReportsAnythingElse) {
    struct Case {
        const char* text;
        std::uint32_t value;
        bool error;
    };
    const Case cases[] = {
        {"00A5A5A5", 0x00A5A5A5, false},
        {"aBcDeF09", 0xABCDEF09, false},
        {"7", 0x7, false},
        {"123456789", 0x23456789, false},   // only the last eight digits count
        {"FFFFFFFFF1", 0xFFFFFFF1, false},
        {"12 zz", 0x12, false},             // a blank ends the key
        {" 12", 0, false},
        {"", 0, false},
        {"-1", 0xFFFFFFFF, false},           // minus before ...
        {"10-", 0xFFFFFFF0, false},          // ... or after the digits
        {"--10", 0xFFFFFFF0, false},         // twice is the same as once
        {"-1-0", 0xFFFFFFF0, false},
        {"-", 0, false},
        {"0x12", 0, true},                   // no prefix: the x is refused
        {"12g", 0, true},
        {"12\t", 0, true},
        {"-5\x80", 0, true},
        {"+5", 0, true},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStdout();
        const std::uint32_t value = parse_hex_key(c.text);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
        EXPECT_EQ(out, c.error ? key_error : "") << '"' << c.text << '"';
    }
    EXPECT_EQ(parse_hex_key(nullptr), 0u);
}

TEST(Mixers, KnownValues) {
    EXPECT_EQ(mix16(0x0001, false), 0x0200);
    EXPECT_EQ(mix16(0x1234, false), 0x6935);
    EXPECT_EQ(mix16(0xFFFF, false), 0x9C8E);

    EXPECT_EQ(mix17(0x00001, false), 0x00080u);
    EXPECT_EQ(mix17(0x12345, false), 0x190D9u);
    EXPECT_EQ(mix17(0x10000, false), 0x00040u);
    EXPECT_EQ(mix17(0x1FFFF, false), 0x0C9A6u);

    EXPECT_EQ(mix32(0x00000001, false), 0x00020000u);
    EXPECT_EQ(mix32(0x12345678, false), 0x48F88088u);
    EXPECT_EQ(mix32(0x80000000, false), 0x00010000u);
    EXPECT_EQ(mix32(0xFFFFFFFF, false), 0x1AE65B0Eu);
}

TEST(Mixers, OffGivesZeroAndMix17ReadsSeventeenBits) {
    for (const std::uint32_t x : {0u, 1u, 0x12345u, 0x1FFFFu, 0xDEADBEEFu, 0xFFFFFFFFu}) {
        EXPECT_EQ(mix16(static_cast<std::uint16_t>(x), true), 0) << x;
        EXPECT_EQ(mix17(x, true), 0u) << x;
        EXPECT_EQ(mix32(x, true), 0u) << x;
        EXPECT_EQ(mix17(x | 0xFFFE0000u, false), mix17(x & 0x1FFFFu, false)) << x;
    }
}

TEST_F(Scrambler, AllKeysZeroLeavesDataUnchanged) {
    keys(0, 0, 0, 0);
    for (int i = 0; i < 200; ++i) {
        const std::uint32_t address = next() & ~3u;
        const std::uint32_t data = next();
        EXPECT_EQ(scramble_word(address, data), data);
    }
}

TEST_F(Scrambler, MasterSwitchOffLeavesDataUnchangedWhateverTheOtherBits) {
    for (const std::uint32_t top : {0x00u, 0xFFu}) {
        for (int i = 0; i < 200; ++i) {
            keys(next(), next(), next(), top << 24 | (next() & 0xFFFFFFu));
            EXPECT_TRUE(scrambling_off());
            const std::uint32_t address = next() & ~3u;
            const std::uint32_t data = next();
            EXPECT_EQ(scramble_word(address, data), data) << std::hex << scramble_control;
        }
    }
}

TEST_F(Scrambler, AllStagesSwitchedOffLeaveDataUnchanged) {
    for (const std::uint32_t top : {0x01u, 0x5Au, 0xFEu}) {
        keys(next(), next(), next(), top << 24 | (next() & 0xFFFFF0u) | 0xFu);
        EXPECT_FALSE(scrambling_off());
        const std::uint32_t data = next();
        EXPECT_EQ(scramble_word(next() & ~3u, data), data);
    }
}

TEST_F(Scrambler, ScramblingTwiceGivesTheDataBack) {
    int changed = 0;
    for (int set = 0; set < 50; ++set) {
        keys(next(), next(), next(), (1 + next() % 0xFE) << 24 | (next() & 0xFFFFFFu));
        for (int i = 0; i < 50; ++i) {
            const std::uint32_t address = next() & ~3u;
            const std::uint32_t data = next();
            const std::uint32_t once = scramble_word(address, data);
            changed += once != data;
            EXPECT_EQ(scramble_word(address, once), data);
        }
    }
    EXPECT_GT(changed, 2000);  // the keys really did scramble
}

// Each stage alone, with the control word switching the other three off:
// the mask (the result for data 0) is that stage's mixer of the input the
// address and keys make for it, worked out here by hand for 0x12345678.
TEST_F(Scrambler, EachStageTakesItsInputFromAddressAndKeys) {
    constexpr std::uint32_t a = 0x12345678;
    constexpr std::uint32_t on = 0x01000000;
    constexpr std::uint32_t only16 = on | 0xE, only17 = on | 0xD, only32 = on | 0xB,
                            only_k3 = on | 0x7;
    struct Case {
        std::uint32_t k1, k2, k3, control;
        std::uint32_t mask;
    };
    const Case cases[] = {
        // mix16: fold selector in bits 5-6, K2's high half XORed in
        {0, 0x0001ABCD, 0, only16 | 0u << 5, std::uint32_t{mix16(0x444C ^ 1, false)} << 16},
        {0, 0x0001ABCD, 0, only16 | 1u << 5, std::uint32_t{mix16(0x6A62 ^ 1, false)} << 16},
        {0, 0x0001ABCD, 0, only16 | 2u << 5, std::uint32_t{mix16(0x626A ^ 1, false)} << 16},
        {0, 0x0001ABCD, 0, only16 | 3u << 5, std::uint32_t{mix16(0x4C44 ^ 1, false)} << 16},
        // mix17: shift selector in bits 8-9, K2's low bytes around bit 8 = control bit 4
        {0, 0x0001ABCD, 0, only17 | 0u << 8, mix17(0x05678 ^ 0x156CD, false) & 0xFFFF},
        {0, 0x0001ABCD, 0, only17 | 1u << 8, mix17(0x02B3C ^ 0x156CD, false) & 0xFFFF},
        {0, 0x0001ABCD, 0, only17 | 2u << 8, mix17(0x1159E ^ 0x156CD, false) & 0xFFFF},
        {0, 0x0001ABCD, 0, only17 | 3u << 8 | 1u << 4, mix17(0x08ACF ^ 0x157CD, false) & 0xFFFF},
        // mix32: rotate selector in bits 11-12, K1 XORed in
        {0x0F0F0F0F, 0, 0, only32 | 0u << 11, mix32(0x12345678 ^ 0x0F0F0F0F, false)},
        {0x0F0F0F0F, 0, 0, only32 | 1u << 11, mix32(0x78123456 ^ 0x0F0F0F0F, false)},
        {0x0F0F0F0F, 0, 0, only32 | 2u << 11, mix32(0x56781234 ^ 0x0F0F0F0F, false)},
        {0x0F0F0F0F, 0, 0, only32 | 3u << 11, mix32(0x34567812 ^ 0x0F0F0F0F, false)},
        // K3 unchanged
        {0x11111111, 0x22222222, 0xC0FFEE00, only_k3, 0xC0FFEE00},
    };
    for (const Case& c : cases) {
        keys(c.k1, c.k2, c.k3, c.control);
        EXPECT_EQ(scramble_word(a, 0), c.mask) << std::hex << c.control;
    }
}

TEST_F(Scrambler, Mix17TopBitNeverReachesTheResult) {
    for (int i = 0; i < 500; ++i) {
        keys(next(), next(), next(), 0x01000000u | 0xDu | (next() & 0x1FF0u));
        EXPECT_EQ(scramble_word(next() & ~3u, 0) >> 16, 0u);
    }
}

// The image writer's table scrambler rests on the mask being affine in the
// address; any key set and any address must give what scramble_word gives,
// stage switches and the master switch included.
TEST_F(Scrambler, TableScramblerAgreesWithScrambleWord) {
    for (int set = 0; set < 200; ++set) {
        keys(next(), next(), next(), set < 4 ? (set & 1 ? 0xFF000000u : 0u) | (next() & 0xFFFFFFu)
                                             : next());
        const word_scrambler scrambler;
        EXPECT_EQ(scrambler.off(), scrambling_off());
        for (int i = 0; i < 100; ++i) {
            const std::uint32_t address = i < 4 ? 0xFFFFFFFFu << (8 * i) : next();
            const std::uint32_t data = next();
            ASSERT_EQ(scrambler.scramble(address, data), scramble_word(address, data))
                << std::hex << scramble_control << ' ' << address;
        }
    }
}

}  // namespace
}  // namespace velk
