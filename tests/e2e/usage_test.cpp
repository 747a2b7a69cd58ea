// velk's command line as a user meets it: each mistake told in the words
// typed, with the nearest name when one is close and the help to read;
// `velk help`; -q before the command; the array names --name refuses.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.hpp"

namespace velk::test {
namespace {

using Args = std::vector<std::string>;

constexpr int ok = 0;
constexpr int usage = 2;  // the exit status of every mistake in the command line

const Files inputs = {{"app.bin", noise(100, 1)}, {"stack.bin", noise(90, 2)}};

std::string label(const Args& args) {
    std::string text;
    for (const std::string& a : args) text += "'" + a + "' ";
    return text;
}

// ---- Mistakes: the exact lines on standard error ----

struct Mistake {
    Args args;
    std::string line;  // the first line; the second points to the help
    std::string help;  // the command whose help ("" for velk's own)
};

TEST(VelkMistakes, EachIsItsLineAndThePointerToTheHelp) {
    const Mistake cases[] = {
        // Unknown options, with the nearest one when it is near.
        {{"crc", "app.bin", "--fromat", "hex"}, "crc: unknown option --fromat (did you mean --format?)", "crc"},
        {{"crc", "app.bin", "--fromat=hex"}, "crc: unknown option --fromat (did you mean --format?)", "crc"},
        {{"crc", "app.bin", "-format", "hex"}, "crc: unknown option -format (did you mean --format?)", "crc"},
        {{"merge", "app.bin", "app.bin", "app.bin", "--image-verison", "1"},
         "merge: unknown option --image-verison (did you mean --image-version?)", "merge"},
        {{"info", "app.bin", "--jsno"}, "info: unknown option --jsno (did you mean --json?)", "info"},
        {{"crc", "app.bin", "--frobnicate"}, "crc: unknown option --frobnicate", "crc"},
        {{"crc", "app.bin", "-qx"}, "crc: unknown option -x", "crc"},
        // An option of another command is unknown to this one.
        {{"txt", "app.bin", "--keys", "1,2,3,4"}, "txt: unknown option --keys", "txt"},
        {{"info", "app.bin", "-q"}, "info: unknown option -q", "info"},
        {{"-q", "info", "app.bin"}, "info: unknown option -q", "info"},
        // A mistake comes before the help it would have asked for.
        {{"crc", "--bogus", "--help"}, "crc: unknown option --bogus", "crc"},
        // Values missing.
        {{"merge", "app.bin", "app.bin", "app.bin", "--image-version="}, "merge: option --image-version needs a value",
         "merge"},
        {{"crc", "app.bin", "-o"}, "crc: option -o needs a value", "crc"},
        {{"crc", "app.bin", "-o", ""}, "crc: option -o needs a value", "crc"},
        {{"txt", "app.bin", "--bits"}, "txt: option --bits needs a value", "txt"},
        // Given twice, under one name or two.
        {{"crc", "app.bin", "-o", "a", "-o", "b"}, "crc: option -o given twice", "crc"},
        {{"crc", "app.bin", "-o", "a", "--output=b"}, "crc: option --output given twice (first as -o)", "crc"},
        {{"txt", "app.bin", "--bits", "8", "--bits=16"}, "txt: option --bits given twice", "txt"},
        // Operands.
        {{"crc"}, "crc: missing operand IMAGE", "crc"},
        {{"merge", "app.bin", "stack.bin"}, "merge: missing operand APP", "merge"},
        {{"info"}, "info: missing operand FILE", "info"},
        {{"crc", "app.bin", "extra.bin"}, "crc: extra operand 'extra.bin'", "crc"},
        {{"crc", "app.bin", "--", "-o"}, "crc: extra operand '-o'", "crc"},
        // A value an option refuses.
        {{"crc", "app.bin", "--base", "0x1G"},
         "crc: --base: '0x1G' is not a number (decimal or 0x hexadecimal)", "crc"},
        {{"merge", "app.bin", "app.bin", "app.bin", "--image-version", "65536"},
         "merge: --image-version: 65536 is larger than 0xFFFF", "merge"},
        // Commands, and the options before them.
        {{}, "missing command", ""},
        {{"-q"}, "missing command", ""},
        {{"crcc", "app.bin"}, "unknown command 'crcc' (did you mean crc?)", ""},
        {{"singel", "app.bin"}, "unknown command 'singel' (did you mean single?)", ""},
        {{"version"}, "unknown command 'version' (did you mean --version?)", ""},
        {{"frobnicate", "app.bin"}, "unknown command 'frobnicate'", ""},
        {{"x"}, "unknown command 'x'", ""},
        {{"--versoin"}, "unknown option --versoin (did you mean --version?)", ""},
        {{"--crc", "app.bin"}, "unknown option --crc (did you mean crc?)", ""},
        {{"-x", "crc", "app.bin"}, "unknown option -x", ""},
        // help's own.
        {{"help", "crcc"}, "help: unknown command 'crcc' (did you mean crc?)", "help"},
        {{"help", "nosuch"}, "help: unknown command 'nosuch'", "help"},
        {{"help", "crc", "merge"}, "help: extra operand 'merge'", "help"},
    };
    for (const Mistake& c : cases) {
        const Outcome r = run_velk(velk, c.args, inputs);
        const std::string help = c.help.empty() ? "velk --help" : "velk " + c.help + " --help";
        EXPECT_EQ(r.err, "velk: " + c.line + "\nTry '" + help + "'.\n") << label(c.args);
        EXPECT_EQ(r.status, usage) << label(c.args);
        EXPECT_EQ(r.out, "") << label(c.args);
        EXPECT_EQ(r.files, inputs) << label(c.args);
    }
}

// ---- velk help ----

const char* const commands[] = {"crc", "single", "merge", "txt", "c", "info", "verify", "unpack", "help"};

TEST(VelkHelp, HelpIsTheHelpOptionAsACommand) {
    const Outcome own = run_velk(velk, {"--help"});
    ASSERT_EQ(own.status, ok);
    for (const Args& args : {Args{"help"}, Args{"-h"}, Args{"-q", "--help"}}) {
        const Outcome r = run_velk(velk, args);
        EXPECT_EQ(r.out, own.out) << label(args);
        EXPECT_EQ(r.err, "") << label(args);
        EXPECT_EQ(r.status, ok) << label(args);
    }
    for (const char* command : commands) {
        const Outcome asked = run_velk(velk, {"help", command});
        const Outcome option = run_velk(velk, {command, "--help"});
        EXPECT_EQ(asked.out, option.out) << command;
        EXPECT_NE(asked.out.find(std::string("velk ") + command), std::string::npos) << command;
        EXPECT_EQ(asked.err, "") << command;
        EXPECT_EQ(asked.status, ok) << command;
    }
}

// ---- -q before the command ----

TEST(VelkQuiet, BeforeTheCommandAsAfterIt) {
    for (const char* quiet : {"-q", "--quiet"}) {
        const Outcome after = run_velk(velk, {"crc", "app.bin", "--no-twin", quiet}, inputs);
        const Outcome before = run_velk(velk, {quiet, "crc", "app.bin", "--no-twin"}, inputs);
        EXPECT_EQ(before.status, ok) << before.err;
        EXPECT_EQ(before.out, "");
        EXPECT_EQ(before.err, "");
        EXPECT_EQ(before.files, after.files);
        EXPECT_EQ(before.files.size(), inputs.size() + 1);
    }
}

TEST(VelkQuiet, HidesTheNoteOfAnImageVersionFromTheClock) {
    const Args merge = {"merge", "app.bin", "stack.bin", "app.bin", "-o", "m"};
    const Outcome said = run_velk(velk, merge, inputs);
    ASSERT_EQ(said.status, ok) << said.err;
    EXPECT_NE(said.err.find("from the clock"), std::string::npos) << said.err;
    for (const Args& quiet : {Args{"-q"}, Args{"--quiet"}}) {
        Args after = merge;
        after.push_back(quiet[0]);
        Args before = quiet;
        before.insert(before.end(), merge.begin(), merge.end());
        for (const Args& args : {after, before}) {
            const Outcome r = run_velk(velk, args, inputs);
            EXPECT_EQ(r.status, ok) << label(args) << r.err;
            EXPECT_EQ(r.err, "") << label(args);
            EXPECT_EQ(r.out, "") << label(args);
        }
    }
}

// ---- Array names that would not compile ----

TEST(VelkArrayName, KeywordsAndReservedIdentifiersAreRefused) {
    const struct {
        std::string name;
        std::string problem;
    } cases[] = {
        {"int", "is a C and C++ keyword"},
        {"static", "is a C and C++ keyword"},
        {"class", "is a C++ keyword"},
        {"and", "is a C++ keyword"},
        {"typeof", "is a C keyword"},
        {"restrict", "is a C keyword"},
        {"_Bool", "is a C keyword"},
        {"_Foo", "is a reserved identifier (it begins with _ and an upper-case letter)"},
        {"__x", "is a reserved identifier (it contains __)"},
        {"fw__image", "is a reserved identifier (it contains __)"},
        // The length symbol, fw__len, would be reserved.
        {"fw_", "gives the length fw__len, a reserved identifier (it contains __)"},
        {"2fast", "is not a C identifier"},
        {"fw-image", "is not a C identifier"},
    };
    for (const auto& c : cases) {
        const Outcome r = run_velk(velk, {"c", "app.bin", "--name", c.name}, inputs);
        EXPECT_EQ(r.err, "velk: c: --name: '" + c.name + "' " + c.problem + "\nTry 'velk c --help'.\n") << c.name;
        EXPECT_EQ(r.status, usage) << c.name;
        EXPECT_EQ(r.files, inputs) << c.name;
    }
}

TEST(VelkArrayName, NamesNearTheRefusedOnesAreTaken) {
    for (const char* name : {"Int", "classy", "and_then", "_fw", "fw_x", "int8"}) {
        const Outcome r = run_velk(velk, {"c", "app.bin", "--name", name, "-o", "a.c"}, inputs);
        EXPECT_EQ(r.status, ok) << name << r.err;
        ASSERT_TRUE(r.files.count("a.c")) << name;
        EXPECT_NE(r.files.at("a.c").find(" " + std::string(name) + "["), std::string::npos) << r.files.at("a.c");
    }
}

}  // namespace
}  // namespace velk::test
