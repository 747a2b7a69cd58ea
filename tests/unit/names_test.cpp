#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "compat/names.hpp"

namespace velk::compat {
namespace {

constexpr const char* attention = "Attention: maybe the input file is not binary file\r\n";

struct Derived {
    std::optional<std::string> name;
    std::string printed;
};

Derived derive(const std::string& input, const std::string& suffix) {
    testing::internal::CaptureStdout();
    Derived d{derive_file_name(input, suffix), ""};
    std::fflush(stdout);
    d.printed = testing::internal::GetCapturedStdout();
    return d;
}

// The quiet form, used for checks made before a name is derived where it
// is used: the same name, and no line.
Derived derive_quietly(const std::string& input, const std::string& suffix) {
    testing::internal::CaptureStdout();
    Derived d{derived_file_name(input, suffix), ""};
    std::fflush(stdout);
    d.printed = testing::internal::GetCapturedStdout();
    return d;
}

TEST(DeriveFileName, NamesTable) {
    const struct {
        const char* input;
        const char* result;
        bool warns;
    } cases[] = {
        {"a.bin", "a_crc.bin", false},
        {"dir/a.bin", "dir/a_crc.bin", false},
        {"./a.bin", "./a_crc.bin", false},
        {".\\a.bin", ".\\a_crc.bin", false},
        {"../a.bin", "../a_crc.bin", false},
        {"C:\\fw\\app.bin", "C:\\fw\\app_crc.bin", false},
        {".hidden.bin", ".hidden_crc.bin", false},
        {"dir.old/a.bin", "dir.old/a_crc.bin", false},
        {"a/b.c/d\\e.bin", "a/b.c/d\\e_crc.bin", false},
        {"a.BIN", "a_crc.bin", true},
        {"a.hex", "a_crc.bin", true},
        {"a.bi", "a_crc.bin", true},
        {"a.", "a_crc.bin", true},
        {"a", "a_crc.bin", true},
        {"a.b.bin", "a_crc.bin", true},
        {"a..bin", "a_crc.bin", true},
        {"ab.binx", "ab_crc.bin", true},
        {"..a.bin", "..a_crc.bin", false},
        {"dir.old/noext", "dir.old/noext_crc.bin", true},
    };
    for (const auto& c : cases) {
        const Derived d = derive(c.input, "_crc.bin");
        ASSERT_TRUE(d.name) << c.input;
        EXPECT_EQ(*d.name, c.result) << c.input;
        EXPECT_EQ(d.printed, c.warns ? attention : "") << c.input;
        const Derived quiet = derive_quietly(c.input, "_crc.bin");
        EXPECT_EQ(quiet.name, d.name) << c.input;
        EXPECT_EQ(quiet.printed, "") << c.input;
    }
}

TEST(DeriveFileName, SuffixIsAppendedWithoutSeparator) {
    EXPECT_EQ(derive("a.bin", "bim_crc.bin").name, "abim_crc.bin");
    EXPECT_EQ(derive("dir/a.bin", "_qz.c").name, "dir/a_qz.c");
    EXPECT_EQ(derive(".\\a.bin", "_qz.txt").name, ".\\a_qz.txt");
}

TEST(DeriveFileName, LongNamesHaveNoLimit) {
    const std::string dir(300, 'd');
    const std::string stem(5000, 's');
    EXPECT_EQ(derive(dir + "/" + stem + ".bin", "_app.bin").name, dir + "/" + stem + "_app.bin");
}

TEST(DeriveFileName, NoStemGivesOneLineAndNoName) {
    for (const char* input : {"", ".", "...", "dir/", "dir/..", "a\\"}) {
        const Derived d = derive(input, "_crc.bin");
        EXPECT_FALSE(d.name) << '"' << input << '"';
        EXPECT_EQ(d.printed,
                  std::string(input) + ": no file name stem to derive an output name from\r\n");
        const Derived quiet = derive_quietly(input, "_crc.bin");
        EXPECT_FALSE(quiet.name) << '"' << input << '"';
        EXPECT_EQ(quiet.printed, "") << '"' << input << '"';
    }
}

}  // namespace
}  // namespace velk::compat
