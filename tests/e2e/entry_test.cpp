#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.hpp"

namespace velk::test {
namespace {

const std::string hint = "\r\nTry velk --help' for more information.\r\n\r\n";

const std::string help =
    "velk - binary file convert tool.\r\n"
    "       Opition:\r\n"
    "                -oad    convert binary file for oad mode, and it will add oad header, modify "
    "boundary start//end structure for primary section.\r\n"
    "                        -v   version information\r\n"
    "                        -u   uid value: 0x41414141 or 0x42424242, default value is "
    "0x42424242\r\n"
    "\r\n"
    "                -crc    convert binary file to crc file, for the special cache and spi "
    "flash of taluvo corp.\r\n"
    "                -c      convert binary file to c file, which includes an array.\r\n"
    "                        -t   set the array element's type: 8 or 16 or 32\r\n"
    "                        -l   how many data cell in one line\r\n"
    "                        c_file_name   if no c_file_name, the default name is the prefix of "
    "binary name\r\n"
    "\r\n"
    "                -txt    convert binary file to text file, which includes binary raw data "
    "based on text format.\r\n"
    "                        -t   set the raw data's type: 8 or 16 or 32\r\n"
    "                        -c   add comma as separator\r\n"
    "                        -p   add prefix: 0x\r\n"
    "                        -l   how many data cell in one line\r\n"
    "                        c_file_name   if no c_file_name, the default name is the prefix of "
    "binary name\r\n"
    "                -e      entrypt data  4*32Byte\r\n"
    "\r\n";

const std::vector<std::string> programs = {velk_merge, velk_single};

TEST(Entry, NoArgumentsPrintsTheHintOnly) {
    for (const std::string& program : programs) {
        const Outcome r = run_velk(program, {});
        EXPECT_EQ(r.out, hint) << program;
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.files.empty());
    }
}

TEST(Entry, EachHelpWordGivesHintAndHelp) {
    for (const std::string& program : programs) {
        for (const char* word : {"-h", "-H", "--h", "--H", "-help", "--help", "--hlep", "--hepl"}) {
            const Outcome r = run_velk(program, {word});
            EXPECT_EQ(r.out, hint + help) << program << ' ' << word;
            EXPECT_EQ(r.status, 0);
        }
    }
}

TEST(Entry, NearMissesOfHelpWordsGiveTheHintOnly) {
    for (const char* word : {"/?", "--HELP", "-Help", "help", "-hh", "---help", "-"}) {
        const Outcome r = run_velk(velk_merge, {word});
        EXPECT_EQ(r.out, hint) << word;
        EXPECT_EQ(r.status, 0);
    }
}

TEST(Entry, SeveralHelpWordsPrintTheHelpOnce) {
    const Outcome r = run_velk(velk_single, {"-h", "--help", "-h"});
    EXPECT_EQ(r.out, hint + help);
}

TEST(Entry, HelpWordWithACommandGivesTheHelpWithoutHint) {
    // Whatever the command prints comes first; the help closes the output.
    for (const char* command : {"-crc", "-CRC", "-txt", "-TXT", "-c", "-C", "-oad", "-OAD"}) {
        const Outcome r = run_velk(velk_merge, {command, "missing.bin", "--hepl"});
        ASSERT_GE(r.out.size(), help.size()) << command;
        EXPECT_EQ(r.out.substr(r.out.size() - help.size()), help) << command;
        EXPECT_EQ(r.out.find("Try velk"), std::string::npos) << command;
        EXPECT_EQ(r.status, 0);
    }
}

TEST(Entry, ExitStatusIsAlwaysZero) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-crc"}, {"-oad"}, {"-txt", "nothing.bin"}, {"-c", "-t"}, {"", ""}, {"-x"}}) {
        EXPECT_EQ(run_velk(velk_single, args).status, 0);
        EXPECT_EQ(run_velk(velk_merge, args).status, 0);
    }
}

}  // namespace
}  // namespace velk::test
