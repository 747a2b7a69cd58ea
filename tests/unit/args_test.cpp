#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "compat/args.hpp"
#include "formats/core/hex.hpp"

namespace velk::compat {
namespace {

struct Argv {
    std::vector<const char*> words;
    int argc() const { return static_cast<int>(words.size()); }
    const char* const* argv() const { return words.data(); }
};

TEST(FindOption, FirstExactMatchIncludingProgramName) {
    const Argv a{{"-c", "-t", "8", "-C", "-t", "16", "-c"}};
    EXPECT_EQ(find_option(a.argc(), a.argv(), "-c"), 0);  // entry 0 is searched too
    EXPECT_EQ(find_option(a.argc(), a.argv(), "-t"), 1);  // first occurrence wins
    EXPECT_EQ(find_option(a.argc(), a.argv(), "-C"), 3);  // case matters
    EXPECT_EQ(find_option(a.argc(), a.argv(), "-T"), -1);
    EXPECT_EQ(find_option(a.argc(), a.argv(), "-"), -1);   // no prefix matching
    EXPECT_EQ(find_option(a.argc(), a.argv(), "-tt"), -1);
    EXPECT_EQ(find_option(0, a.argv(), "-c"), -1);  // only the first argc entries
}

TEST(OptionPresent, LengthOfWordOrZero) {
    const Argv a{{"velk", "-oad", "x.bin"}};
    EXPECT_EQ(option_present(a.argc(), a.argv(), "-oad"), 4);
    EXPECT_EQ(option_present(a.argc(), a.argv(), "-OAD"), 0);
}

TEST(OptionValue, NeverReadsPastTheVector) {
    const Argv a{{"velk", "-l", "12", "-t"}};
    EXPECT_STREQ(option_value(a.argc(), a.argv(), "-l"), "12");
    EXPECT_EQ(option_value(a.argc(), a.argv(), "-t"), nullptr);  // last token
    EXPECT_EQ(option_value(a.argc(), a.argv(), "-p"), nullptr);  // absent
}

TEST(ReadNumber, Behaves_Like32BitStrtoulBase0) {
    const struct {
        const char* text;
        std::uint32_t value;
    } cases[] = {
        {"0", 0},
        {"16", 16},
        {"0x10", 16},
        {"0X1f", 31},
        {"020", 16},           // leading zero: octal
        {"08", 0},             // 8 is no octal digit: reading stops after "0"
        {"0x", 0},             // no hex digit after the prefix: just the "0"
        {"0xg", 0},
        {"12abc", 12},         // stops at the first character that does not fit
        {"abc", 0},            // no digits
        {"", 0},
        {"  \t42", 42},        // leading blanks skipped
        {"+7", 7},
        {"-1", 0xFFFFFFFFu},   // minus negates modulo 2^32
        {"-0x10", 0xFFFFFFF0u},
        {"4294967295", 0xFFFFFFFFu},
        {"4294967296", 0xFFFFFFFFu},    // above 32 bits saturates
        {"0x123456789", 0xFFFFFFFFu},
        {"-4294967295", 1},             // still in range, then negated
        {"-4294967296", 0xFFFFFFFFu},   // out of range: saturates, sign ignored
        {"99999999999999999999999", 0xFFFFFFFFu},
        {"- 1", 0},                     // a blank after the sign ends it
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read_number(c.text), c.value) << '"' << c.text << '"';
    }
    EXPECT_EQ(read_number(nullptr), 0u);
}

}  // namespace
}  // namespace velk::compat

namespace velk {
namespace {

// The digit readers against the C library's own reading of one character
// in base 36 (strtol takes digits of either case).
TEST(DigitValue, AgreesWithStrtolForEveryCharacter) {
    for (int i = 1; i < 256; ++i) {
        const char text[2] = {static_cast<char>(i), '\0'};
        char* end = nullptr;
        const long library = std::strtol(text, &end, 36);
        const int expected = end == text + 1 ? static_cast<int>(library) : 36;
        EXPECT_EQ(digit_value(text[0]), expected) << i;
        EXPECT_EQ(hex_digit(text[0]), expected < 16 ? expected : -1) << i;
        const bool upper = i >= 'A' && i <= 'Z';
        EXPECT_EQ(lower_hex_digit(text[0]), expected < 16 && !upper ? expected : -1) << i;
    }
}

TEST(HexText, AgreesWithPrintfForWidthsAndValues) {
    const std::uint64_t values[] = {0, 1, 0xF, 0x10, 0xABCDEF, 0xFFFFFFFF, 0x100000000, UINT64_MAX};
    for (const std::uint64_t v : values) {
        for (const int digits : {1, 2, 4, 8, 16}) {
            char text[32];
            std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(v));
            EXPECT_EQ(hex_text(v, digits), text) << v << " " << digits;
        }
    }
    EXPECT_EQ(hex_text(0x2A), "0x2A");
}

}  // namespace
}  // namespace velk
