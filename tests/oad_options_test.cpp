#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "oad/options.hpp"

namespace velk {
namespace {

const std::string link_notice = "you do not appoint link addr,default :0x25a80\r\n";
const std::string rom_notice = "you do not appoint rom version,default :0xffff\r\n";
const std::string key_notices =
    "you do not appoint encrypt:default: \r\nb=00A5A5A5,00A5A5A5,00A5A5A5,00A5A5A5\r\n";

class OadOptions : public ::testing::Test {
protected:
    void SetUp() override {
        cmd_bin_oad = {};
        encrypt_keys = {"k1", "k2", "k3", "k4"};
    }
    void TearDown() override {
        cmd_bin_oad = {};
        encrypt_keys = {default_key, default_key, default_key, default_key};
    }

    // Parses "velk" followed by args; keeps what was printed in `out`.
    int parse(std::vector<std::string> args) {
        args.insert(args.begin(), "velk");
        words = std::move(args);
        argv.clear();
        for (const std::string& w : words) argv.push_back(w.c_str());
        testing::internal::CaptureStdout();
        const int result = parse_oad_options(static_cast<int>(argv.size()), argv.data());
        out = testing::internal::GetCapturedStdout();
        return result;
    }

    std::string out;

private:
    std::vector<std::string> words;
    std::vector<const char*> argv;
};

TEST_F(OadOptions, DefaultsAreAppliedAndAnnouncedInOrder) {
    const std::uint32_t before = default_version();
    ASSERT_EQ(parse({"-oad", "b.bin", "s.bin", "a.bin"}), 0);
    const std::uint32_t after = default_version();

    const std::string prefix = "you do not appoint version information default:0x";
    ASSERT_EQ(out.compare(0, prefix.size(), prefix), 0) << out;
    const std::size_t end = out.find("\r\n");
    const auto shown = static_cast<std::uint32_t>(
        std::stoul(out.substr(prefix.size(), end - prefix.size()), nullptr, 16));
    EXPECT_TRUE(shown == before || shown == after) << out;
    EXPECT_EQ(cmd_bin_oad.version, shown);
    EXPECT_EQ(out.substr(end + 2), link_notice + rom_notice + key_notices);

    EXPECT_EQ(cmd_bin_oad.link_addr, 0x25A80u);
    EXPECT_EQ(cmd_bin_oad.stack_file_addr, 0x1F00u);
    EXPECT_EQ(cmd_bin_oad.rom_version, 0xFFFF);
    EXPECT_EQ(cmd_bin_oad.app_uid, 0x42424242u);
    EXPECT_EQ(cmd_bin_oad.stack_app_uid, 0x53535353u);
    EXPECT_STREQ(cmd_bin_oad.boot_file, "b.bin");
    EXPECT_STREQ(cmd_bin_oad.stack_file, "s.bin");
    EXPECT_STREQ(cmd_bin_oad.app_file, "a.bin");
    for (const char* key : encrypt_keys) EXPECT_STREQ(key, "00A5A5A5");
}

TEST_F(OadOptions, GivenOptionsAreTakenAndOnlyTheStackOffsetIsAnnounced) {
    ASSERT_EQ(parse({"-v", "0x10203", "-l", "0x30000", "-m", "0x2000", "-rom_v", "0x12345",
                     "-e", "-1", "2", "3", "01000000", "-APP_U", "0x41414141", "-STACK_APP_U",
                     "7", "-oad", "b", "s", "a"}),
              0);
    EXPECT_EQ(out, "cmd_bin_oad.stack_file_addr :0x2000\r\n");
    EXPECT_EQ(cmd_bin_oad.version, 0x10203u);
    EXPECT_EQ(cmd_bin_oad.link_addr, 0x30000u);
    EXPECT_EQ(cmd_bin_oad.stack_file_addr, 0x2000u);
    EXPECT_EQ(cmd_bin_oad.rom_version, 0x2345);  // low 16 bits
    EXPECT_EQ(cmd_bin_oad.app_uid, 0x41414141u);
    EXPECT_EQ(cmd_bin_oad.stack_app_uid, 7u);
    EXPECT_STREQ(encrypt_keys[0], "-1");  // a key may begin with "-"
    EXPECT_STREQ(encrypt_keys[3], "01000000");
    EXPECT_STREQ(cmd_bin_oad.app_file, "a");
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
        ASSERT_EQ(parse({"-v", "1", "-m", text, "-oad", "b"}), 0);
        EXPECT_EQ(cmd_bin_oad.stack_file_addr, value) << '"' << text << '"';
    }
}

TEST_F(OadOptions, FirstOccurrenceWins) {
    ASSERT_EQ(parse({"-v", "1", "-v", "2", "-l", "3", "-l", "4", "-e", "a", "b", "c", "d", "-e",
                     "e", "f", "g", "h", "-oad", "b1", "-oad", "b2"}),
              0);
    EXPECT_EQ(cmd_bin_oad.version, 1u);
    EXPECT_EQ(cmd_bin_oad.link_addr, 3u);
    EXPECT_STREQ(encrypt_keys[0], "a");
    EXPECT_STREQ(encrypt_keys[3], "d");
    EXPECT_STREQ(cmd_bin_oad.boot_file, "b1");
    EXPECT_STREQ(cmd_bin_oad.stack_file, "-oad");
}

TEST_F(OadOptions, FourKeysSilenceOnlyTheKeyNotices) {
    ASSERT_EQ(parse({"-e", "1", "2", "3", "4", "-oad", "b"}), 0);
    EXPECT_EQ(out.find("you do not appoint version information default:0x"), 0u);
    EXPECT_EQ(out.substr(out.find("\r\n") + 2), link_notice + rom_notice);
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
        EXPECT_EQ(parse(c.args), 1) << c.args.back();
        EXPECT_EQ(out, c.out) << c.args.back();
    }
}

TEST_F(OadOptions, FileNamesFollowTheCommandWord) {
    struct Case {
        std::vector<std::string> args;
        int result;
        const char* boot;
        const char* stack;
        const char* app;
    };
    const Case cases[] = {
        {{"-v", "1", "-OAD", "x", "y", "z"}, 0, "x", "y", "z"},  // upper case alone
        {{"-v", "1", "-OAD", "x", "-oad", "b", "s", "a"}, 0, "b", "s", "a"},  // lower wins
        {{"-v", "1", "-oad", "b"}, 0, "b", nullptr, nullptr},  // the rest stay unset
        {{"-v", "1", "-oad"}, 0, nullptr, nullptr, nullptr},
        {{"-v", "1", "-crc", "b"}, 1, "kept", "kept", "kept"},  // no command word
    };
    for (const Case& c : cases) {
        cmd_bin_oad.boot_file = cmd_bin_oad.stack_file = cmd_bin_oad.app_file = "kept";
        EXPECT_EQ(parse(c.args), c.result) << c.args[2];
        EXPECT_EQ(out, link_notice + rom_notice + key_notices) << c.args[2];
        const char* got[] = {cmd_bin_oad.boot_file, cmd_bin_oad.stack_file, cmd_bin_oad.app_file};
        const char* want[] = {c.boot, c.stack, c.app};
        for (int k = 0; k < 3; ++k) {
            if (want[k] == nullptr) {
                EXPECT_EQ(got[k], nullptr) << c.args[2] << ' ' << k;
            } else {
                EXPECT_STREQ(got[k], want[k]) << c.args[2] << ' ' << k;
            }
        }
    }
}

TEST(DefaultVersion, YearPlusTheDateAndTimeFields) {
    std::tm when{};
    when.tm_year = 2018 - 1900;
    when.tm_mon = 3;  // April
    when.tm_mday = 20;
    when.tm_hour = 10;
    when.tm_min = 30;
    when.tm_sec = 15;
    EXPECT_EQ(version_from_time(when), 2096u);
    EXPECT_EQ(version_from_time(when), 0x830u);
}

}  // namespace
}  // namespace velk
