// -txt and -c started by the front end together: shared tokens, the fixed
// order of the commands, and help after a dump.

#include <gtest/gtest.h>

#include <string>

#include "export_support.hpp"
#include "harness.hpp"

namespace velk::test {
namespace {

TEST(ExportDispatch, CommaFlagOfTheDumpAlsoStartsTheCArrayCommand) {
    // "-c" is the dump's comma flag and the C array word: the C array
    // command then takes "-p" as its input and cannot open it.
    const Bytes input = counting(20);
    const Outcome r =
        run_velk(velk_merge, {"-txt", "image.bin", "-c", "-p"}, {{"image.bin", input}});
    EXPECT_EQ(r.out, txt_settings("image.bin", 1, 1, 8) + "text file name:image_qz.txt\r\n" +
                         c_settings("-p", "(null)", 32) + "-p file can not be opened\r\n");
    EXPECT_EQ(r.files,
              (Files{{"image.bin", input},
                     {"image_qz.txt",
                      "0x00,0x01,0x02,0x03,0x04,0x05,0x06,0x07,0x08,0x09,0x0A,0x0B,0x0C,0x0D,0x0E,"
                      "0x0F,\r\n0x10,0x11,0x12,0x13,"}}));
    EXPECT_EQ(r.status, 0);
}

TEST(ExportDispatch, TheDumpRunsBeforeTheCArrayAndEachRunsOnce) {
    const Files inputs = {{"x.bin", "\x01"}, {"y.bin", "\x02"}};
    // The C array's output name slot holds "-txt", which begins with "-",
    // so both names are derived.
    const std::string expected = txt_settings("y.bin", 1, 0, 8) + "text file name:y_qz.txt\r\n" +
                                 c_settings("x.bin", "(null)", 32) + "c file name:x_qz.c\r\n";
    for (const std::vector<std::string>& args : {
             std::vector<std::string>{"-c", "x.bin", "-txt", "y.bin"},
             std::vector<std::string>{"-c", "x.bin", "-txt", "y.bin", "-c", "-txt", "-c"},
         }) {
        const Outcome r = run_velk(velk_single, args, inputs);
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(r.files.at("y_qz.txt"), "02,");
        EXPECT_EQ(r.files.count("x_qz.c"), 1u);
        EXPECT_EQ(r.files.size(), 4u);
    }
}

TEST(ExportDispatch, DumpThenHelpWhenAHelpWordFollowsTheInput) {
    const Outcome r = run_velk(velk_merge, {"-txt", "a.bin", "-h"}, {{"a.bin", "\x7F"}});
    const std::string dump_lines = txt_settings("a.bin", 0, 0, 8) + "text file name:a_qz.txt\r\n";
    ASSERT_GT(r.out.size(), dump_lines.size());
    EXPECT_EQ(r.out.substr(0, dump_lines.size()), dump_lines);
    EXPECT_EQ(r.out.substr(dump_lines.size(), 34), "velk - binary file convert tool.\r\n");
    EXPECT_EQ(r.files.at("a_qz.txt"), "7F ");
}

TEST(ExportDispatch, BothCommandsWithDerivedNamesInOneRun) {
    // "-c" is last, so the C array command has no input; the dump still
    // derives and frees its own name.
    const Outcome r = run_velk(velk_merge, {"-txt", "a.bin", "-c"}, {{"a.bin", "\x01"}});
    EXPECT_EQ(r.out, txt_settings("a.bin", 1, 0, 8) + "text file name:a_qz.txt\r\n" +
                         c_settings("(null)", "(null)", 32) + "(null) file can not be opened\r\n");
    EXPECT_EQ(r.files.at("a_qz.txt"), "01,");

    const Outcome both = run_velk(velk_merge, {"-txt", "a.bin", "-c", "b.bin"},
                                  {{"a.bin", "\x01"}, {"b.bin", "\x02"}});
    EXPECT_EQ(both.files.at("a_qz.txt"), "01,");
    EXPECT_EQ(both.files.count("b_qz.c"), 1u);
}

}  // namespace
}  // namespace velk::test
