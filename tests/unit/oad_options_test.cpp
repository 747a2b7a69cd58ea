// The -oad options: how they are read and announced, the keys after "-e",
// and the default version from the clock or SOURCE_DATE_EPOCH.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "compat/keys.hpp"
#include "compat/oad_options.hpp"
#include "formats/oad/version.hpp"
#include "io/clock.hpp"
#include "support.hpp"

namespace velk::compat {
namespace {

// Each notice alone: the lines of a run that gave every other option.
const std::string link_notice = test::oad_notices({.rom_given = true, .keys_given = true});
const std::string rom_notice = test::oad_notices({.link_given = true, .keys_given = true});
const std::string key_notices = test::oad_notices({.link_given = true, .rom_given = true});
const std::string key_error = " Error: Parameter failed!\n";

class OadOptions : public ::testing::Test {
protected:
    // Parses "velk" followed by args; keeps what was printed in `out`.
    std::optional<oad_options> parse(std::vector<std::string> args,
                                     key_use keys = key_use::scrambles,
                                     const char* source_date_epoch = nullptr) {
        args.insert(args.begin(), "velk");
        words = std::move(args);
        argv.clear();
        for (const std::string& w : words) argv.push_back(w.c_str());
        testing::internal::CaptureStdout();
        auto result = parse_oad_options(static_cast<int>(argv.size()), argv.data(), keys,
                                        source_date_epoch);
        out = testing::internal::GetCapturedStdout();
        return result;
    }

    std::string out;

private:
    std::vector<std::string> words;
    std::vector<const char*> argv;
};

TEST_F(OadOptions, DefaultsAreAppliedAndAnnouncedInOrder) {
    for (const char* epoch : {static_cast<const char*>(nullptr), ""}) {  // both mean unset
        const std::optional<std::uint32_t> before = default_image_version({}, local_time_now);
        const auto o = parse({"-oad", "b.bin", "s.bin", "a.bin"}, key_use::scrambles, epoch);
        const std::optional<std::uint32_t> after = default_image_version({}, local_time_now);
        ASSERT_TRUE(o && before && after);
        EXPECT_TRUE(o->version == *before || o->version == *after) << o->version;
        EXPECT_EQ(out, test::oad_notices({.version = o->version, .version_given = false}));

        EXPECT_EQ(o->link_addr, 0x25A80u);
        EXPECT_EQ(o->stack_file_addr, 0x1F00u);
        EXPECT_EQ(o->rom_version, 0xFFFF);
        EXPECT_EQ(o->app_uid, 0x42424242u);
        EXPECT_EQ(o->stack_app_uid, 0x53535353u);
        EXPECT_STREQ(o->boot_file, "b.bin");
        EXPECT_STREQ(o->stack_file, "s.bin");
        EXPECT_STREQ(o->app_file, "a.bin");
        for (const char* key : o->keys) EXPECT_STREQ(key, "00A5A5A5");
    }
}

// A time zone far from UTC for one test, so that a local time would show.
class FarTimeZone {
public:
    FarTimeZone() {
        if (const char* tz = std::getenv("TZ")) saved_ = tz;
        setenv("TZ", "VLK-05:30", 1);
        tzset();
    }
    ~FarTimeZone() {
        if (saved_) {
            setenv("TZ", saved_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    FarTimeZone(const FarTimeZone&) = delete;
    FarTimeZone& operator=(const FarTimeZone&) = delete;

private:
    std::optional<std::string> saved_;
};

TEST_F(OadOptions, SourceDateEpochGivesTheVersionOfThatTimeInUtc) {
    const FarTimeZone zone;
    // Worked out by hand from the calendar: the year plus the month from 0,
    // the day, the hour, the minute and the second.
    const struct {
        const char* epoch;
        std::uint32_t version;
    } cases[] = {
        {"0", 1970 + 0 + 1},                                // 1970-01-01 00:00:00
        {"951782400", 2000 + 1 + 29},                       // 2000-02-29 00:00:00
        {"1234567890", 2009 + 1 + 13 + 23 + 31 + 30},       // 2009-02-13 23:31:30
        {"1700000000", 2023 + 10 + 14 + 22 + 13 + 20},      // 2023-11-14 22:13:20
        {"2147483648", 2038 + 0 + 19 + 3 + 14 + 8},         // 2038-01-19 03:14:08
        {"4102444799", 2099 + 11 + 31 + 23 + 59 + 59},      // 2099-12-31 23:59:59
        {"0001700000000", 2023 + 10 + 14 + 22 + 13 + 20},  // leading zeros
    };
    for (const auto& c : cases) {
        const auto o = parse({"-oad", "b"}, key_use::scrambles, c.epoch);
        ASSERT_TRUE(o) << c.epoch;
        EXPECT_EQ(o->version, c.version) << c.epoch;
        EXPECT_EQ(out, test::oad_notices({.version = c.version, .version_given = false}))
            << c.epoch;
    }
}

TEST_F(OadOptions, MalformedSourceDateEpochEndsTheCommand) {
    for (const char* epoch : {"-1", "+5", "1.5", "abc", " 1", "1 ", "0x10", "1e9",
                              "9999999999999999999"}) {
        EXPECT_FALSE(parse({"-oad", "b"}, key_use::scrambles, epoch)) << epoch;
        EXPECT_EQ(out, std::string("SOURCE_DATE_EPOCH=") + epoch +
                           " is not a number of seconds since 1970\r\n");
        // The variable is read only when the version is not given.
        const auto given = parse({"-v", "5", "-oad", "b"}, key_use::scrambles, epoch);
        ASSERT_TRUE(given) << epoch;
        EXPECT_EQ(given->version, 5u);
        EXPECT_EQ(out, link_notice + rom_notice + key_notices);
    }
}

TEST_F(OadOptions, GivenOptionsAreTakenAndOnlyTheStackOffsetIsAnnounced) {
    const auto o = parse({"-v", "0x10203", "-l", "0x30000", "-m", "0x2000", "-rom_v", "0x12345",
                          "-e", "-1", "2", "3", "01000000", "-APP_U", "0x41414141",
                          "-STACK_APP_U", "7", "-oad", "b", "s", "a"});
    ASSERT_TRUE(o);
    EXPECT_EQ(out, "cmd_bin_oad.stack_file_addr :0x2000\r\n");
    EXPECT_EQ(o->version, 0x10203u);
    EXPECT_EQ(o->link_addr, 0x30000u);
    EXPECT_EQ(o->stack_file_addr, 0x2000u);
    EXPECT_EQ(o->rom_version, 0x2345);  // low 16 bits
    EXPECT_EQ(o->app_uid, 0x41414141u);
    EXPECT_EQ(o->stack_app_uid, 7u);
    EXPECT_STREQ(o->keys[0], "-1");  // a key may begin with "-"
    EXPECT_STREQ(o->keys[3], "01000000");
    EXPECT_STREQ(o->app_file, "a");
}

TEST_F(OadOptions, NumbersAreReadWithTheirBase) {
    const std::pair<const char*, std::uint32_t> cases[] = {
        {"8192", 0x2000},     {"0x2000", 0x2000},         {"0X2000", 0x2000},
        {"020000", 0x2000},   {"0", 0},                   {"-1", 0xFFFFFFFF},
        {"12ab", 12},         {"zz", 0},                  {"", 0},
        {"0x", 0},            {"4294967295", 0xFFFFFFFF}, {"99999999999", 0xFFFFFFFF},
        {"  0x10", 0x10},
    };
    for (const auto& [text, value] : cases) {
        const auto o = parse({"-v", "1", "-m", text, "-oad", "b"});
        ASSERT_TRUE(o);
        EXPECT_EQ(o->stack_file_addr, value) << '"' << text << '"';
    }
}

TEST_F(OadOptions, FirstOccurrenceWins) {
    const auto o = parse({"-v", "1", "-v", "2", "-l", "3", "-l", "4", "-e", "a", "b", "c", "d",
                          "-e", "e", "f", "g", "h", "-oad", "b1", "-oad", "b2"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->version, 1u);
    EXPECT_EQ(o->link_addr, 3u);
    EXPECT_STREQ(o->keys[0], "a");
    EXPECT_STREQ(o->keys[3], "d");
    EXPECT_STREQ(o->boot_file, "b1");
    EXPECT_STREQ(o->stack_file, "-oad");
}

TEST_F(OadOptions, FourKeysSilenceOnlyTheKeyNotices) {
    ASSERT_TRUE(parse({"-v", "9", "-e", "1", "2", "3", "4", "-oad", "b"}));
    EXPECT_EQ(out, link_notice + rom_notice);
}

TEST_F(OadOptions, AKeyThatScramblesMustBeABareHexadecimalWord) {
    const char* const good[] = {"12345678", "9abcdef0", "-1", "01000000"};
    for (const char* bad : {"0x01000000", "12g", "+5", "1\t"}) {
        for (std::size_t k = 0; k < 4; ++k) {
            std::vector<std::string> args = {"-v", "1", "-e", good[0], good[1], good[2], good[3],
                                             "-oad", "b"};
            args[3 + k] = bad;
            SCOPED_TRACE(testing::Message() << "key " << k + 1 << " " << bad);
            EXPECT_FALSE(parse(args, key_use::scrambles));
            EXPECT_EQ(out, link_notice + rom_notice + key_error +
                               test::format("key %zu (%s) is not a bare hexadecimal word\r\n",
                                            k + 1, bad));
            // A flow that only announces the keys takes them as they are.
            const auto announced = parse(args, key_use::announced_only);
            ASSERT_TRUE(announced);
            EXPECT_EQ(out, link_notice + rom_notice);
            EXPECT_STREQ(announced->keys[k], bad);
        }
    }
}

TEST_F(OadOptions, AnOptionWithoutItsValueEndsTheCommand) {
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {{"-oad", "b", "-v"}, "option -v needs a value\r\n"},
        {{"-v", "1", "-oad", "b", "-l"}, "option -l needs a value\r\n"},
        {{"-v", "1", "-oad", "b", "-m"}, link_notice + "option -m needs a value\r\n"},
        {{"-v", "1", "-oad", "b", "-rom_v"}, link_notice + "option -rom_v needs a value\r\n"},
        {{"-v", "1", "-oad", "b", "-e", "1", "2", "3"},
         link_notice + rom_notice + "option -e needs four key strings\r\n"},
        {{"-v", "1", "-oad", "b", "-e"},
         link_notice + rom_notice + "option -e needs four key strings\r\n"},
        {{"-v", "1", "-oad", "b", "-APP_U"},
         link_notice + rom_notice + key_notices + "option -APP_U needs a value\r\n"},
        {{"-v", "1", "-oad", "b", "-STACK_APP_U"},
         link_notice + rom_notice + key_notices + "option -STACK_APP_U needs a value\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(parse(c.args)) << c.args.back();
        EXPECT_EQ(out, c.out) << c.args.back();
    }
}

TEST_F(OadOptions, FileNamesFollowTheCommandWord) {
    struct Case {
        std::vector<std::string> args;
        const char* boot;
        const char* stack;
        const char* app;
    };
    const Case cases[] = {
        {{"-v", "1", "-OAD", "x", "y", "z"}, "x", "y", "z"},                  // upper case alone
        {{"-v", "1", "-OAD", "x", "-oad", "b", "s", "a"}, "b", "s", "a"},  // lower wins
        {{"-v", "1", "-oad", "b"}, "b", nullptr, nullptr},                  // the rest unset
        {{"-v", "1", "-oad"}, nullptr, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        const auto o = parse(c.args);
        ASSERT_TRUE(o) << c.args[2];
        EXPECT_EQ(out, link_notice + rom_notice + key_notices) << c.args[2];
        const char* got[] = {o->boot_file, o->stack_file, o->app_file};
        const char* want[] = {c.boot, c.stack, c.app};
        for (int k = 0; k < 3; ++k) {
            if (want[k] == nullptr) {
                EXPECT_EQ(got[k], nullptr) << c.args[2] << ' ' << k;
            } else {
                EXPECT_STREQ(got[k], want[k]) << c.args[2] << ' ' << k;
            }
        }
    }
    // Without the command word there is nothing to run, after the notices.
    EXPECT_FALSE(parse({"-v", "1", "-crc", "b"}));
    EXPECT_EQ(out, link_notice + rom_notice + key_notices);
}

// ---- Keys ----

TEST(HexKey, ReadsBareHexDigitsAndReportsAnythingElse) {
    struct Case {
        const char* text;
        std::uint32_t value;
        bool bad;
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
        const hex_key_reading r = read_hex_key(c.text);
        EXPECT_EQ(r.value, c.value) << '"' << c.text << '"';
        EXPECT_EQ(r.bad, c.bad) << '"' << c.text << '"';
        testing::internal::CaptureStdout();
        const std::uint32_t value = parse_hex_key(c.text);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.bad ? key_error : "")
            << '"' << c.text << '"';
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
    EXPECT_EQ(read_hex_key(nullptr).value, 0u);
    EXPECT_FALSE(read_hex_key(nullptr).bad);
}

TEST(HexKey, FourKeysMakeTheScramblerKeysInOrder) {
    testing::internal::CaptureStdout();
    const scramble_keys keys = parse_scramble_keys({"1", "2", "-3", "01000000"});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(keys, (scramble_keys{1, 2, 0xFFFFFFFD, 0x01000000}));
    EXPECT_EQ(parse_scramble_keys({default_key, default_key, default_key, default_key}),
              default_scramble_keys);
}

// ---- The default version ----

TEST(ImageVersion, YearPlusTheDateAndTimeFields) {
    std::tm when{};
    when.tm_year = 2018 - 1900;
    when.tm_mon = 3;  // April
    when.tm_mday = 20;
    when.tm_hour = 10;
    when.tm_min = 30;
    when.tm_sec = 15;
    EXPECT_EQ(version_from_time(when), 2096u);
}

TEST(ImageVersion, SourceDateEpochIsUnsetATimeOrMalformed) {
    using kind = source_date::kind;
    const struct {
        const char* value;
        kind what;
        std::time_t seconds;
    } cases[] = {
        {nullptr, kind::unset, 0},
        {"", kind::unset, 0},
        {"0", kind::time, 0},
        {"1700000000", kind::time, 1700000000},
        {"000000000000000042", kind::time, 42},           // 18 digits
        {"999999999999999999", kind::time, 999999999999999999},
        {"0000000000000000042", kind::malformed, 0},      // 19 digits
        {"-1", kind::malformed, 0},
        {"1 ", kind::malformed, 0},
        {"x", kind::malformed, 0},
    };
    for (const auto& c : cases) {
        const source_date d = read_source_date_epoch(c.value);
        EXPECT_EQ(d.what, c.what) << (c.value ? c.value : "(null)");
        if (c.what == kind::time) {
            EXPECT_EQ(d.seconds, c.seconds) << c.value;
        }
    }
    EXPECT_FALSE(default_image_version({kind::malformed, 0}, local_time_now));
    EXPECT_EQ(default_image_version({kind::time, 1700000000}, local_time_now), 2023u + 10 + 14 + 22 + 13 + 20);
}

// The clock is asked only when SOURCE_DATE_EPOCH is unset, and a clock
// that cannot tell the time gives no version.
TEST(ImageVersion, TheLocalClockServesOnlyWhenTheVariableIsUnset) {
    using kind = source_date::kind;
    const local_clock fixed = [] {
        std::tm when{};
        when.tm_year = 2018 - 1900;
        when.tm_mon = 3;
        when.tm_mday = 20;
        return std::optional<std::tm>(when);
    };
    const local_clock broken = [] { return std::optional<std::tm>(); };
    EXPECT_EQ(default_image_version({kind::unset, 0}, fixed), 2018u + 3 + 20);
    EXPECT_FALSE(default_image_version({kind::unset, 0}, broken));
    EXPECT_EQ(default_image_version({kind::time, 0}, broken), 1970u + 0 + 1);
    EXPECT_FALSE(default_image_version({kind::malformed, 0}, fixed));
}

}  // namespace
}  // namespace velk::compat
