// velk, the program for build pipelines, end to end: the same bytes as the
// compatibility programs for the same settings, its command-line
// conventions, its exit statuses, outputs that appear whole or not at all,
// Intel HEX read back by an independent tool, reproducible versions, pipes
// and the C export options.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "harness.hpp"
#include "support.hpp"

namespace velk::test {
namespace {

using Args = std::vector<std::string>;

// Exit statuses, as the README's table gives them.
constexpr int ok = 0;
constexpr int usage = 2;
constexpr int bad_input = 3;
constexpr int bad_output = 4;

const std::string keys_text = "12345678,9ABCDEF0,0F1E2D3C,01000000";
const Args compat_keys = {"-e", "12345678", "9ABCDEF0", "0F1E2D3C", "01000000"};

Args concat(Args a, const Args& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The number of lines in a text, counting a last line without its end.
std::size_t lines_in(const std::string& text) {
    std::size_t n = 0;
    for (char c : text) n += c == '\n';
    return n + (!text.empty() && text.back() != '\n');
}

// ---- The same bytes as the compatibility programs ----

struct Same {
    std::string label;
    Files inputs;
    std::string compat;             // program
    Args compat_args;
    Args velk_args;
    std::map<std::string, std::string> files;  // velk's output -> the compatibility output
};

std::ostream& operator<<(std::ostream& os, const Same& c) { return os << c.label; }

class SameBytes : public testing::TestWithParam<Same> {};

TEST_P(SameBytes, AsTheCompatibilityCommand) {
    const Same& c = GetParam();
    const Outcome old = run_velk(c.compat, c.compat_args, c.inputs);
    const Outcome now = run_velk(velk, c.velk_args, c.inputs);
    ASSERT_EQ(now.status, ok) << now.err;
    EXPECT_EQ(now.err, "");
    for (const auto& [mine, theirs] : c.files) {
        ASSERT_TRUE(old.files.count(theirs)) << theirs << '\n' << old.out;
        ASSERT_TRUE(now.files.count(mine)) << mine;
        EXPECT_EQ(now.files.at(mine), old.files.at(theirs)) << mine << " vs " << theirs;
    }
    // One summary line per file written, and nothing else.
    EXPECT_EQ(lines_in(now.out), c.files.size()) << now.out;
    for (const auto& [mine, theirs] : c.files) {
        EXPECT_NE(now.out.find(mine + ": " + std::to_string(now.files.at(mine).size()) + " bytes\n"),
                  std::string::npos)
            << now.out;
    }
}

std::vector<Same> same_cases() {
    std::vector<Same> cases;
    // 600001 bytes: several of the pieces large files are converted in.
    for (const std::size_t size : {0u, 1u, 33u, 4101u, 600001u}) {
        const Files in = {{"a.bin", noise(size, static_cast<std::uint32_t>(size + 1))}};
        const std::string n = std::to_string(size);
        cases.push_back({"crc_" + n, in, velk_merge, {"-crc", "a.bin"}, {"crc", "a.bin"},
                         {{"a_crc.bin", "a_crc.bin"}, {"a.out", "a.out"}}});
        if (size != 0) {
            cases.push_back({"single_keyed_" + n, in, velk_single,
                             concat({"-oad", "a.bin", "-v", "1"}, compat_keys),
                             {"single", "a.bin", "--keys", keys_text, "-o", "s.bin"},
                             {{"s.bin", "a_crc.bin"}, {"s.out", "abim_crc.out"}}});
            cases.push_back({"single_plain_" + n, in, velk_single, {"-oad", "a.bin", "-v", "1"},
                             {"single", "a.bin"},
                             {{"a_crc.bin", "a_crc.bin"}, {"abim_crc.out", "abim_crc.out"}}});
        }
        for (const char* bits : {"8", "16", "32"}) {
            const std::string b = bits;
            cases.push_back({"txt_" + b + "_" + n, in, velk_merge,
                             {"-txt", "a.bin", "-t", b, "-c", "-p", "-l", "7"},
                             {"txt", "a.bin", "--bits=" + b, "--comma", "--prefix", "--per-line", "7"},
                             {{"a_qz.txt", "a_qz.txt"}}});
        }
    }
    const Files parts = {{"boot.bin", noise(3000, 1)}, {"stack.bin", noise(9000, 2)},
                         {"app.bin", noise(5000, 3)}};
    cases.push_back({"merge_defaults", parts, velk_merge,
                     {"-oad", "boot.bin", "stack.bin", "app.bin", "-v", "0x1234"},
                     {"merge", "boot.bin", "stack.bin", "app.bin", "--image-version", "0x1234"},
                     {{"app_merge.bin", "app_merge.bin"},
                      {"app_stack.bin", "app_stack.bin"},
                      {"app_app.bin", "app_app.bin"}}});
    cases.push_back({"merge_custom", parts, velk_merge,
                     {"-oad", "boot.bin", "stack.bin", "app.bin", "-v", "7", "-m", "0x1000", "-l",
                      "0x4000", "-rom_v", "0x0203", "-APP_U", "0x41414141", "-STACK_APP_U", "99"},
                     {"merge", "boot.bin", "stack.bin", "app.bin", "-o", "out", "--image-version=7",
                      "--stack-at=0x1000", "--app-at", "16384", "--rom-version", "0x0203",
                      "--app-uid", "0x41414141", "--stack-uid", "99"},
                     {{"out_merge.bin", "app_merge.bin"},
                      {"out_stack.bin", "app_stack.bin"},
                      {"out_app.bin", "app_app.bin"}}});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Velk, SameBytes, testing::ValuesIn(same_cases()),
                         [](const auto& test) { return test.param.label; });

// ---- Bad command lines ----

// A value an option refuses is a mistake in the command line: its line
// names the command and the option, and a second line points to the
// command's help. A refusal found while running the command is one line.
// (usage_test.cpp holds the exact lines of the command line's own
// mistakes.)
TEST(VelkUsage, EachBadValueOrRefusalIsItsLineOnStderrAndNothingWritten) {
    const Files in = {{"a.bin", noise(100, 1)}, {"b.bin", noise(100, 2)}, {"c.bin", noise(100, 3)}};
    const struct {
        Args args;
        Environment environment;
        std::string names;  // what the first line must mention
        bool in_the_command_line;
    } cases[] = {
        {{"crc", "a.bin", "--base", "0x1G"}, {}, "--base: '0x1G' is not a number", true},
        {{"crc", "a.bin", "--base", "-1"}, {}, "--base: '-1'", true},
        {{"crc", "a.bin", "--base", "+1"}, {}, "--base: '+1'", true},
        {{"crc", "a.bin", "--base", ""}, {}, "--base", true},
        {{"crc", "a.bin", "--base", "0x100000000"}, {}, "--base: 0x100000000 is larger than 0xFFFFFFFF", true},
        {{"merge", "a.bin", "b.bin", "c.bin", "--image-version", "0x10000"}, {}, "--image-version: 0x10000 is larger than 0xFFFF", true},
        {{"merge", "a.bin", "b.bin", "c.bin", "--rom-version", "65536"}, {}, "--rom-version: 65536 is larger", true},
        {{"merge", "a.bin", "b.bin", "c.bin", "--app-uid", "4294967296"}, {}, "--app-uid", true},
        {{"merge", "a.bin", "b.bin", "c.bin", "--stack-at", "0x1F00h"}, {}, "--stack-at", true},
        {{"merge", "a.bin", "b.bin", "c.bin", "--stack-at", "010x"}, {}, "--stack-at", true},
        {{"txt", "a.bin", "--bits", "12"}, {}, "--bits: 12 is not 8, 16 or 32", true},
        {{"txt", "a.bin", "--per-line", "0"}, {}, "--per-line", true},
        {{"crc", "a.bin", "--format", "elf"}, {}, "--format: 'elf'", true},
        {{"single", "a.bin", "--keys", "1,2,3"}, {}, "--keys: '1,2,3'", true},
        {{"single", "a.bin", "--keys", "1,2,3,4,5"}, {}, "--keys", true},
        {{"single", "a.bin", "--keys", "1,2,3,0x4"}, {}, "--keys", true},
        {{"single", "a.bin", "--keys", "1,2,,4"}, {}, "--keys", true},
        {{"single", "a.bin", "--keys", "123456789,2,3,4"}, {}, "--keys", true},
        {{"single", "a.bin", "--keys", "1,2,3,-4"}, {}, "--keys", true},
        {{"c", "a.bin", "--name", "2fast"}, {}, "--name: '2fast'", true},
        {{"merge", "a.bin", "b.bin", "c.bin"}, {{"SOURCE_DATE_EPOCH", "yesterday"}}, "SOURCE_DATE_EPOCH: 'yesterday'", false},
        {{"merge", "a.bin", "b.bin", "c.bin"}, {{"SOURCE_DATE_EPOCH", "-1"}}, "SOURCE_DATE_EPOCH: '-1'", false},
        {{"merge", "a.bin", "b.bin", "c.bin"}, {{"SOURCE_DATE_EPOCH", "999999999999999999"}}, "beyond the calendar", false},
        // An output that is an input; two outputs with one name.
        {{"crc", "a.bin", "-o", "a.bin"}, {}, "a.bin is the input a.bin", false},
        {{"c", "a.bin", "--header", "a.bin"}, {}, "a.bin is the input", false},
        {{"crc", "a.bin", "-o", "x.out"}, {}, "both be x.out", false},
        // Standard input gives no name to derive an output's from.
        {{"crc", "-"}, {}, "-o", false},
    };
    for (const auto& c : cases) {
        std::string label;
        for (const std::string& a : c.args) label += a + " ";
        const Outcome r = run_velk(velk, c.args, in, {}, c.environment);
        EXPECT_EQ(r.status, usage) << label << r.err;
        const std::string first = r.err.substr(0, r.err.find('\n') + 1);
        const std::string prefix = c.in_the_command_line ? "velk: " + c.args[0] + ": " : "velk: ";
        EXPECT_EQ(first.rfind(prefix, 0), 0u) << label << r.err;
        EXPECT_NE(first.find(c.names), std::string::npos) << label << r.err;
        const std::string rest = c.in_the_command_line ? "Try 'velk " + c.args[0] + " --help'.\n" : "";
        EXPECT_EQ(r.err.substr(first.size()), rest) << label << r.err;
        EXPECT_EQ(r.out, "") << label;
        EXPECT_EQ(r.files, in) << label;
    }
}

TEST(VelkUsage, AnOutputThatIsAnInputThroughALinkIsRefused) {
    Sandbox box({{"a.bin", noise(64, 1)}});
    box.symlink("a.bin", "alias.bin");
    const Outcome r = box.run(velk, {"crc", "a.bin", "-o", "alias.bin"});
    EXPECT_EQ(r.status, usage);
    EXPECT_NE(r.err.find("is the input a.bin"), std::string::npos) << r.err;
    EXPECT_EQ(r.files, (Files{{"a.bin", noise(64, 1)}, {"alias.bin@", "a.bin"}}));
}

TEST(VelkUsage, HelpAndVersionGoToStdoutWithStatusZero) {
    for (const Args& args : {Args{"--help"}, Args{"crc", "--help"}, Args{"merge", "-h"}, Args{"--version"}}) {
        const Outcome r = run_velk(velk, args);
        EXPECT_EQ(r.status, ok) << args[0];
        EXPECT_EQ(r.err, "");
        EXPECT_NE(r.out.find("velk"), std::string::npos);
    }
    // The help lists every command of the table, read by dispatch too.
    const std::string help = run_velk(velk, {"--help"}).out;
    for (const char* command : {"crc", "single", "merge", "txt", "c"}) {
        EXPECT_NE(help.find(std::string("  ") + command + " "), std::string::npos) << command;
        EXPECT_EQ(run_velk(velk, {command, "--help"}).status, ok) << command;
    }
}

TEST(VelkUsage, OptionsMayStandAnywhereAndDoubleDashEndsThem) {
    const Files in = {{"-odd.bin", noise(40, 1)}};
    const Outcome r = run_velk(velk, {"txt", "--bits=16", "-o", "x.txt", "--", "-odd.bin"}, in);
    EXPECT_EQ(r.status, ok) << r.err;
    const Outcome compat = run_velk(velk_merge, {"-txt", "-odd.bin", "x.txt", "-t", "16"}, in);
    EXPECT_EQ(r.files.at("x.txt"), compat.files.at("x.txt"));
}

// ---- Faults: the right status, nothing under a final name, no temporary ----

struct Fault {
    std::string label;
    Args args;
    int status;
    std::string names;  // what the stderr line must mention
    std::optional<std::uint64_t> limit;  // RLIMIT_FSIZE
    std::string missing = "";            // input removed before the run
    std::string as_directory = "";       // input replaced by a directory
    std::string link = "";               // name made a link to /dev/full
};

std::ostream& operator<<(std::ostream& os, const Fault& f) { return os << f.label; }

class VelkFaults : public testing::TestWithParam<Fault> {};

const Files fault_inputs = {{"a.bin", noise(5000, 7)},  {"big.bin", noise(600001, 8)},
                            {"boot.bin", noise(3000, 1)},
                            {"stack.bin", noise(9000, 2)}, {"app.bin", noise(5000, 3)},
                            // an existing output from an earlier run, which a failed run must
                            // leave as it was
                            {"a_crc.bin", "old image"},   {"app_merge.bin", "old merge"}};

TEST_P(VelkFaults, LeaveNothingUnderAFinalNameAndNoTemporary) {
    const Fault& f = GetParam();
    Sandbox box(fault_inputs);
    Files expected = fault_inputs;
    if (!f.missing.empty()) {
        std::filesystem::remove(box.path() + "/" + f.missing);
        expected.erase(f.missing);
    }
    if (!f.as_directory.empty()) {
        std::filesystem::remove(box.path() + "/" + f.as_directory);
        box.mkdir(f.as_directory);
        expected.erase(f.as_directory);
        expected[f.as_directory + "/"] = "";
    }
    if (!f.link.empty()) {
        box.symlink("/dev/full", f.link);
        expected[f.link + "@"] = "/dev/full";
    }
    const Outcome r = box.run(velk, f.args, {f.limit});
    EXPECT_EQ(r.status, f.status) << r.err;
    EXPECT_EQ(lines_in(r.err), 1u) << r.err;
    EXPECT_NE(r.err.find(f.names), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    // The inputs and the earlier outputs as they were; nothing new, not
    // even a temporary.
    EXPECT_EQ(r.files, expected);
}

std::vector<Fault> fault_cases() {
    // Sizes of what a good run writes: crc of 5000 bytes gives 5338 and a
    // twin of 21352; txt of 5000 bytes gives 15000; the merge's 158720.
    std::vector<Fault> cases = {
        {"missing_input", {"crc", "nosuch.bin"}, bad_input, "nosuch.bin: cannot open: No such file", {}},
        {"missing_merge_part", {"merge", "boot.bin", "stack.bin", "nosuch.bin", "--image-version", "1"},
         bad_input, "nosuch.bin", {}},
        {"directory_input", {"crc", "a.bin"}, bad_input, "a.bin: is a directory", {}, "", "a.bin"},
        {"directory_txt_input", {"txt", "a.bin"}, bad_input, "is a directory", {}, "", "a.bin"},
        {"device_c_input", {"c", "/dev/zero", "-o", "z.c"}, bad_input, "/dev/zero: not a regular file", {}},
        {"output_in_missing_directory", {"crc", "a.bin", "-o", "nodir/x.bin"}, bad_output,
         "nodir/x.bin: cannot create: No such file or directory", {}},
        {"output_is_directory", {"txt", "a.bin", "-o", "d"}, bad_output, "d: cannot create", {}, "", "d"},
        {"device_full_output", {"txt", "a.bin", "-o", "full.txt"}, bad_output,
         "full.txt: write error: No space left on device", {}, "", "", "full.txt"},
        {"device_full_twin", {"crc", "a.bin", "-o", "x.bin"}, bad_output,
         "x.out: write error: No space left", {}, "", "", "x.out"},
        {"merge_limit", {"merge", "boot.bin", "stack.bin", "app.bin", "--image-version", "1"},
         bad_output, "write error: File too large", 100000},
        {"layout_refused", {"merge", "boot.bin", "stack.bin", "app.bin", "--stack-at", "0x100", "-q"},
         bad_input, "boot.bin: 0xBB8 bytes long, it runs into the stack image at 0x100", {}},
        {"no_header_room", {"merge", "boot.bin", "stack.bin", "app.bin", "--stack-at", "8"},
         bad_input, "--stack-at 0x8 leaves no room", {}},
    };
    // A file-size limit at the first, a middle and the last byte of an
    // output: the write that reaches past it fails.
    for (const auto& [name, limit] : {std::pair{"first", 0ull}, std::pair{"middle", 2500ull},
                                      std::pair{"last", 5337ull}}) {
        cases.push_back({std::string("crc_limit_") + name, {"crc", "a.bin", "--no-twin"}, bad_output,
                         "a_crc.bin: write error: File too large", limit});
        cases.push_back({std::string("txt_limit_") + name, {"txt", "a.bin"}, bad_output,
                         "a_qz.txt: write error: File too large", limit * 2});
    }
    cases.back().limit = 14999;  // txt: 15000 bytes, its last byte
    cases.push_back({"twin_limit", {"crc", "a.bin"}, bad_output, "a.out: write error", 21351});
    // Large inputs are converted in pieces, written where they belong by
    // more than one thread: a piece past the limit fails the same way.
    cases.push_back({"pieces_crc_limit", {"crc", "big.bin", "--no-twin"}, bad_output,
                     "big_crc.bin: write error: File too large", 400000});
    cases.push_back({"pieces_twin_limit", {"crc", "big.bin"}, bad_output,
                     "big.out: write error: File too large", 1000000});
    cases.push_back({"pieces_txt_limit", {"txt", "big.bin"}, bad_output,
                     "big_qz.txt: write error: File too large", 1000000});
    cases.push_back({"pieces_c_limit", {"c", "big.bin"}, bad_output,
                     "big_qz.c: write error: File too large", 1000000});
    cases.push_back({"hex_limit", {"crc", "a.bin", "--format", "hex", "--no-twin"}, bad_output,
                     "a_crc.hex: write error", 7000});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Velk, VelkFaults, testing::ValuesIn(fault_cases()),
                         [](const auto& test) { return test.param.label; });

TEST(VelkOutputs, AnOutputNamedByALinkReplacesTheLinkedFileAndKeepsTheLink) {
    Sandbox box({{"a.bin", noise(100, 1)}, {"real/x.txt", "old"}});
    box.symlink("real/x.txt", "x.txt");
    const Outcome r = box.run(velk, {"txt", "a.bin", "-o", "x.txt"});
    ASSERT_EQ(r.status, ok) << r.err;
    const Outcome compat = run_velk(velk_merge, {"-txt", "a.bin"}, {{"a.bin", noise(100, 1)}});
    EXPECT_EQ(r.files.at("x.txt@"), "real/x.txt");
    EXPECT_EQ(r.files.at("real/x.txt"), compat.files.at("a_qz.txt"));
    EXPECT_EQ(r.files.size(), 4u);  // a.bin, real/, real/x.txt, x.txt@
}

TEST(VelkOutputs, AnExistingDeviceIsWrittenInPlace) {
    Sandbox box({{"a.bin", noise(100, 1)}});
    box.symlink("/dev/null", "null.bin");
    const Outcome r = box.run(velk, {"crc", "a.bin", "-o", "null.bin", "--no-twin"});
    EXPECT_EQ(r.status, ok) << r.err;
    EXPECT_EQ(r.files, (Files{{"a.bin", noise(100, 1)}, {"null.bin@", "/dev/null"}}));
}

TEST(VelkOutputs, QuietLeavesStdoutEmpty) {
    const Outcome r = run_velk(velk, {"crc", "a.bin", "-q"}, {{"a.bin", "abc"}});
    EXPECT_EQ(r.status, ok);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.files.size(), 3u);
}

TEST(VelkOutputs, DefaultNamesCutOnlyTheLastExtension) {
    const Files in = {{"fw/app.v1.bin", noise(50, 1)}, {"fw/app.v2.bin", noise(50, 2)}};
    Sandbox box(in);
    EXPECT_EQ(box.run(velk, {"txt", "fw/app.v1.bin"}).status, ok);
    EXPECT_EQ(box.run(velk, {"txt", "fw/app.v2.bin"}).status, ok);
    EXPECT_EQ(box.run(velk, {"single", "fw/app.v1.bin"}).status, ok);
    const Files files = box.files();
    for (const char* name : {"fw/app.v1_qz.txt", "fw/app.v2_qz.txt", "fw/app.v1_crc.bin",
                             "fw/app.v1bim_crc.out"}) {
        EXPECT_TRUE(files.count(name)) << name;
    }
}

// ---- Intel HEX, read back by srec_cat ----

TEST(VelkHex, SrecCatReadsBackTheBinaryImage) {
    ASSERT_TRUE(shell("command -v srec_cat")) << "srec_cat (Debian package srecord) is needed";
    const Files parts = {{"boot.bin", noise(3000, 1)}, {"stack.bin", Bytes(9000, '\xFF')},
                         {"app.bin", noise(70000, 3)}, {"a.bin", noise(70000, 4) + Bytes(64, '\xFF')}};
    const struct {
        Args hex_args;
        Args bin_args;
        std::string hex_file;
        std::string bin_file;
        std::uint32_t base;
    } cases[] = {
        // Above 64 KiB and not on a record boundary: extended address records,
        // and records that stop at a 64 KiB boundary.
        {{"crc", "a.bin", "--format", "hex", "--base", "0x1FFF8"}, {"crc", "a.bin"}, "a_crc.hex",
         "a_crc.bin", 0x1FFF8},
        {{"single", "a.bin", "--format=hex", "--base=0x08000000", "--keys", keys_text},
         {"single", "a.bin", "--keys", keys_text}, "a_crc.hex", "a_crc.bin", 0x08000000},
        // The merge's fill and padding are whole records of 0xFF, left out.
        {{"merge", "boot.bin", "stack.bin", "app.bin", "--image-version", "1", "--format", "hex",
          "--base", "0x10000"},
         {"merge", "boot.bin", "stack.bin", "app.bin", "--image-version", "1"}, "app_merge.hex",
         "app_merge.bin", 0x10000},
        {{"crc", "a.bin", "--format", "hex"}, {"crc", "a.bin"}, "a_crc.hex", "a_crc.bin", 0},
    };
    for (const auto& c : cases) {
        Sandbox box(parts);
        ASSERT_EQ(box.run(velk, c.hex_args).status, ok) << c.hex_file;
        ASSERT_EQ(box.run(velk, c.bin_args).status, ok) << c.bin_file;
        const Bytes binary = box.read(c.bin_file);
        const std::string command = format(
            "cd '%s' && srec_cat %s -intel -offset -0x%X -fill 0xFF 0 %zu -o back.bin -binary",
            box.path().c_str(), c.hex_file.c_str(), c.base, binary.size());
        ASSERT_TRUE(shell(command)) << command;
        EXPECT_EQ(box.read("back.bin"), binary) << c.hex_file;
        // Erased records are left out, but never the last data record, which
        // carries the image's length; the file ends with its end record.
        const Bytes text = box.read(c.hex_file);
        EXPECT_EQ(text.substr(text.size() - 13), ":00000001FF\r\n");
        std::vector<std::string> data_records;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find("\r\n", at);
            ASSERT_NE(end, std::string::npos);
            const std::string record = text.substr(at, end - at);
            if (record.size() > 9 && record.substr(7, 2) == "00") data_records.push_back(record);
            at = end + 2;
        }
        ASSERT_FALSE(data_records.empty());
        data_records.pop_back();
        for (const std::string& record : data_records) {
            EXPECT_NE(record.substr(1, 2) + record.substr(9, 32), "10" + std::string(32, 'F')) << record;
        }
    }
}

// ---- Reproducible versions ----

TEST(VelkVersion, SourceDateEpochGivesTheSameBytesEveryTime) {
    const Files parts = {{"boot.bin", noise(300, 1)}, {"stack.bin", noise(900, 2)},
                         {"app.bin", noise(500, 3)}};
    const Environment epoch = {{"SOURCE_DATE_EPOCH", "1700000000"}};
    const Args merge = {"merge", "boot.bin", "stack.bin", "app.bin"};
    const Outcome first = run_velk(velk, merge, parts, {}, epoch);
    const Outcome second = run_velk(velk, merge, parts, {}, epoch);
    ASSERT_EQ(first.status, ok) << first.err;
    EXPECT_EQ(first.files, second.files);
    // 2023-11-14 22:13:20 UTC: 2023 + 10 + 14 + 22 + 13 + 20 = 2102 = 0x836,
    // in both headers' version field (bytes 4-5).
    const Bytes& image = first.files.at("app_merge.bin");
    EXPECT_EQ(image.substr(0x1F00 - 16 + 4, 2), le(0x836, 2));
    EXPECT_EQ(image.substr(0x25A80 - 16 + 4, 2), le(0x836, 2));
    EXPECT_EQ(first.err, "velk: image version 0x0836 from SOURCE_DATE_EPOCH=1700000000\n");
    // An empty value counts as unset: the clock, which stderr names.
    const Outcome clock = run_velk(velk, merge, parts, {}, {{"SOURCE_DATE_EPOCH", ""}});
    EXPECT_EQ(clock.status, ok);
    EXPECT_NE(clock.err.find("from the clock"), std::string::npos) << clock.err;
    // Given, it is used and nothing is said.
    const Outcome given = run_velk(velk, concat(merge, {"--image-version", "0x836"}), parts);
    EXPECT_EQ(given.err, "");
    EXPECT_EQ(given.files, first.files);
}

// ---- Pipes ----

TEST(VelkPipes, StandardInputAndOutput) {
    const Bytes image = noise(3000, 9);
    const Files in = {{"a.bin", image}};
    Sandbox box(in);
    // txt to standard output: the dump's bytes, and no summary line.
    const Outcome dump = box.run(velk, {"txt", "-", "-o", "-", "--bits", "32"}, {}, {}, image);
    ASSERT_EQ(dump.status, ok) << dump.err;
    const Outcome reference = run_velk(velk, {"txt", "a.bin", "--bits", "32"}, in);
    EXPECT_EQ(dump.out, reference.files.at("a_qz.txt"));
    // c and crc from standard input: the same files as from the image.
    const Outcome c = box.run(velk, {"c", "-", "-o", "a_qz.c", "-q"}, {}, {}, image);
    ASSERT_EQ(c.status, ok) << c.err;
    const Outcome crc = box.run(velk, {"crc", "-", "-o", "a_crc.bin", "-q"}, {}, {}, image);
    ASSERT_EQ(crc.status, ok) << crc.err;
    const Outcome from_file = run_velk(velk, {"c", "a.bin"}, in);
    const Outcome crc_file = run_velk(velk, {"crc", "a.bin"}, in);
    const Files files = box.files();
    // The C file names its input in its first line.
    std::string c_from_file = from_file.files.at("a_qz.c");
    c_from_file.replace(c_from_file.find("from a.bin"), 10, "from standard input");
    EXPECT_EQ(files.at("a_qz.c"), c_from_file);
    EXPECT_EQ(files.at("a_crc.bin"), crc_file.files.at("a_crc.bin"));
    EXPECT_EQ(files.at("a_crc.out"), crc_file.files.at("a.out"));
    // An empty standard input is no array.
    const Outcome empty = box.run(velk, {"c", "-", "-o", "e.c"}, {}, {}, Bytes());
    EXPECT_EQ(empty.status, bad_input);
}

// ---- The C export options ----

TEST(VelkC, DeclarationsCompileAndHoldTheImage) {
    ASSERT_TRUE(shell("command -v cc")) << "a C compiler is needed";
    const Bytes image = noise(301, 5);
    for (const char* bits : {"8", "16", "32"}) {
        Sandbox box({{"a.bin", image}});
        const Outcome r = box.run(velk, {"c", "a.bin", "-o", "fw.c", "--name", "fw_image", "--const",
                                         "--stdint", "--header", "fw.h", "--bits", bits});
        ASSERT_EQ(r.status, ok) << r.err;
        box.write("main.c",
                  "#include <stdio.h>\n#include \"fw.h\"\n"
                  "int main(void) {\n"
                  "  FILE *f = fopen(\"a.bin\", \"rb\");\n"
                  "  unsigned long n = 0; int c;\n"
                  "  const unsigned w = sizeof fw_image[0];\n"
                  "  while ((c = fgetc(f)) != EOF) {\n"
                  "    if (((fw_image[n / w] >> (8 * (n % w))) & 0xFF) != (unsigned)c) return 1;\n"
                  "    ++n;\n"
                  "  }\n"
                  "  return n == fw_image_len ? 0 : 2;\n"
                  "}\n");
        const std::string build = format(
            "cd '%s' && cc -std=c99 -Wall -Wextra -pedantic -Werror main.c fw.c -o check && ./check",
            box.path().c_str());
        EXPECT_TRUE(shell(build)) << bits << '\n' << box.read("fw.h") << box.read("fw.c").substr(0, 400);
    }
}

}  // namespace
}  // namespace velk::test
