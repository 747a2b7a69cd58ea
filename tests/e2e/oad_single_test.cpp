// -oad of velk-single end to end: the padded flash CRC image against the
// test's own reference, the keys, the default version, and every failure's
// exit lines.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "harness.hpp"
#include "support.hpp"

namespace velk::test {
namespace {

// The lines up to the working copy; by default those of a run with "-v 0x102".
std::string start_lines(std::size_t input_len, const OadLines& run = {}) {
    return oad_opening(run) +
           format("cmd_bin_oad.stack_file_addr=1f00\r\nboot_bin_len=%zx\r\n", input_len);
}

const std::string banner =
    "/**< @CREATE_FILE_SUCCESS */\r\n"
    "/**< @Download flash file:app_crc.bin\r\n"
    "/**< @author the velk developers */\r\n"
    "/**< @version v0.3 */\r\n";

std::vector<std::string> single_args(std::vector<std::string> extra = {}) {
    std::vector<std::string> a = {"-oad", "app.bin", "-v", "0x102"};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
}

TEST(SingleOad, OutputLengthsAndTheFilesLeftBehind) {
    const struct {
        std::size_t input, output;
    } cases[] = {{0, 256}, {100, 256}, {3840, 4096}, {4096, 4608}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const Bytes input = noise(c.input, 11);
        const Bytes image = ref_flash_crc_image(input, unscrambled);
        const Outcome r = run_velk(velk_single, single_args(), {{"app.bin", input}});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, start_lines(c.input) + encrypt_success(image.size()) + banner);
        EXPECT_EQ(r.files, (Files{{"app.bin", input},
                                  {"app_crc.bin", padded_to_256(image)},
                                  {"appbim_crc.out", ref_twin(image)}}));
        EXPECT_EQ(r.files.at("app_crc.bin").size(), c.output);
    }
}

TEST(SingleOad, WithoutKeysItIsTheCrcImagePadded) {
    const Bytes input = noise(1000, 12);
    Sandbox box({{"app.bin", input}});
    const Bytes crc_only = box.run(velk_single, {"-crc", "app.bin"}).files.at("app_crc.bin");
    EXPECT_EQ(box.run(velk_single, single_args()).files.at("app_crc.bin"), padded_to_256(crc_only));

    // With both commands in one call -crc runs first; the -oad output is left.
    const Outcome both = run_velk(velk_single, single_args({"-crc"}), {{"app.bin", input}});
    EXPECT_EQ(both.files.at("app_crc.bin"), padded_to_256(crc_only));
}

TEST(SingleOad, ScramblesWithTheKeysAfterE) {
    const struct {
        const char* keys[4];
        Keys words;
    } cases[] = {
        {{"12345678", "9ABCDEF0", "0F1E2D3C", "01000000"},
         {0x12345678, 0x9ABCDEF0, 0x0F1E2D3C, 0x01000000}},
        {{"cafebabe", "13579BDF", "2468ACE0", "7E001B60"},
         {0xCAFEBABE, 0x13579BDF, 0x2468ACE0, 0x7E001B60}},
        {{"-1", "00000001", "FFFFFFFF", "FE000810"}, {0xFFFFFFFF, 1, 0xFFFFFFFF, 0xFE000810}},
        {{"DEADBEEF", "0BADF00D", "8BADF00D", "12345678"},
         {0xDEADBEEF, 0x0BADF00D, 0x8BADF00D, 0x12345678}},
        // The master switch off: the keys leave the data as it is.
        {{"DEADBEEF", "0BADF00D", "8BADF00D", "FF345678"},
         {0xDEADBEEF, 0x0BADF00D, 0x8BADF00D, 0xFF345678}},
    };
    const Bytes input = noise(777, 13);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys[3]);
        const Outcome r = run_velk(
            velk_single, single_args({"-e", c.keys[0], c.keys[1], c.keys[2], c.keys[3]}),
            {{"app.bin", input}});
        const Bytes image = ref_flash_crc_image(input, c.words);
        EXPECT_EQ(r.out, start_lines(input.size(), {.keys_given = true}) + encrypt_success(image.size()) + banner);
        EXPECT_EQ(r.files.at("app_crc.bin"), padded_to_256(image));
        EXPECT_EQ(r.files.at("appbim_crc.out"), ref_twin(image));
    }
}

// Scrambling with another key than the one asked for would ship an image
// the device cannot read: a key that is not a bare hexadecimal word ends
// the command before any file exists.
TEST(SingleOad, AKeyThatIsNotABareHexadecimalWordIsRefused) {
    const std::vector<std::string> good = {"12345678", "9ABCDEF0", "0F1E2D3C", "01000000"};
    const struct {
        std::size_t position;  // 1 to 4
        const char* key;
    } cases[] = {{1, "0x12345678"}, {2, "9ABCDEFG"}, {3, "+0F1E2D3C"}, {4, "0x01000000"}};
    const Files inputs = {{"app.bin", noise(64, 14)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        std::vector<std::string> keys = good;
        keys[c.position - 1] = c.key;
        const Outcome r = run_velk(
            velk_single, single_args({"-e", keys[0], keys[1], keys[2], keys[3]}), inputs);
        EXPECT_EQ(r.out, oad_notices({.keys_given = true}) + " Error: Parameter failed!\n" +
                             format("key %zu (%s) is not a bare hexadecimal word\r\n",
                                    c.position, c.key));
        EXPECT_EQ(r.files, inputs);
        EXPECT_EQ(r.status, 0);
    }
}

TEST(SingleOad, SourceDateEpochGivesTheDefaultVersion) {
    // The version of each time in UTC, worked out by hand: the year plus
    // the month from 0, the day, the hour, the minute and the second.
    const struct {
        const char* epoch;
        std::uint32_t version;
    } cases[] = {
        {"0", 1970 + 0 + 1},                            // 1970-01-01 00:00:00
        {"1700000000", 2023 + 10 + 14 + 22 + 13 + 20},  // 2023-11-14 22:13:20
        {"4102444799", 2099 + 11 + 31 + 23 + 59 + 59},  // 2099-12-31 23:59:59
    };
    const Bytes input = noise(100, 18);
    const Bytes image = ref_flash_crc_image(input);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.epoch);
        // The time zone is far from UTC, so that a local time would show.
        const Environment env = {{"SOURCE_DATE_EPOCH", c.epoch}, {"TZ", "VLK-05:30"}};
        const Outcome r = run_velk(velk_single, {"-oad", "app.bin"}, {{"app.bin", input}}, {}, env);
        EXPECT_EQ(r.out, start_lines(100, {.version = c.version, .version_given = false}) +
                             encrypt_success(image.size()) + banner);
        EXPECT_EQ(r.files, (Files{{"app.bin", input},
                                  {"app_crc.bin", padded_to_256(image)},
                                  {"appbim_crc.out", ref_twin(image)}}));
        // The same value gives the same run, byte for byte.
        const Outcome again =
            run_velk(velk_single, {"-oad", "app.bin"}, {{"app.bin", input}}, {}, env);
        EXPECT_EQ(again.out, r.out);
        EXPECT_EQ(again.files, r.files);
    }
}

TEST(SingleOad, MalformedSourceDateEpochIsRefusedBeforeAnyFile) {
    const Files inputs = {{"app.bin", noise(100, 19)}};
    for (const char* epoch : {"abc", "-1", "1.5", " 1700000000", "1700000000 ", "0x10",
                              "999999999999999999"}) {
        SCOPED_TRACE(epoch);
        const Outcome r = run_velk(velk_single, {"-oad", "app.bin"}, inputs, {},
                                   {{"SOURCE_DATE_EPOCH", epoch}});
        EXPECT_EQ(r.out, std::string("SOURCE_DATE_EPOCH=") + epoch +
                             " is not a number of seconds since 1970\r\n");
        EXPECT_EQ(r.files, inputs);
        EXPECT_EQ(r.status, 0);
        // A version given on the command line leaves the variable unread.
        const Outcome given =
            run_velk(velk_single, single_args(), inputs, {}, {{"SOURCE_DATE_EPOCH", epoch}});
        EXPECT_EQ(given.out, start_lines(100) + encrypt_success(136) + banner);
    }
    // Set but empty counts as not set: the version comes from the clock.
    const Outcome empty =
        run_velk(velk_single, {"-oad", "app.bin"}, inputs, {}, {{"SOURCE_DATE_EPOCH", ""}});
    EXPECT_TRUE(empty.out.starts_with("you do not appoint version information default:0x"))
        << empty.out;
    EXPECT_TRUE(empty.out.ends_with(banner)) << empty.out;
}

TEST(SingleOad, NamesOfAnInputThatIsNotBin) {
    const Outcome r = run_velk(velk_single, {"-oad", "app.hex", "-v", "0x102"},
                               {{"app.hex", "abc"}});
    const std::string attention = "Attention: maybe the input file is not binary file\r\n";
    const Bytes image = ref_flash_crc_image("abc", unscrambled);
    std::string want = start_lines(3);
    want.insert(want.find("cmd_bin_oad.stack_file_addr="), attention);
    EXPECT_EQ(r.out, want + encrypt_success(image.size()) + attention + banner);
    EXPECT_EQ(r.files, (Files{{"app.hex", "abc"},
                              {"app_crc.bin", padded_to_256(image)},
                              {"appbim_crc.out", ref_twin(image)}}));
}

// ---- Failures: each ends with its exit lines, never with the banner ----

std::string head_lines() { return oad_opening(); }

TEST(SingleOad, MissingOrStemlessInputNameCreatesNothing) {
    const struct {
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {{"-v", "0x102", "-oad"}, "-oad needs the name of the image to convert after it\r\n"},
        {{"-v", "0x102", "-oad", "..."}, "...: no file name stem to derive an output name from\r\n"},
        {{"-v", "0x102", "-oad", "dir/"}, "dir/: no file name stem to derive an output name from\r\n"},
        // A directory, refused before a name is derived from it.
        {{"-v", "0x102", "-oad", ".."}, ".. is a directory\r\n"},
    };
    for (const auto& c : cases) {
        const Outcome r = run_velk(velk_single, c.args, {{"app.bin", "abc"}});
        EXPECT_EQ(r.out, head_lines() + c.line + closing_exit);
        EXPECT_EQ(r.files, (Files{{"app.bin", "abc"}}));
    }
}

TEST(SingleOad, MissingInputLeavesTheEmptyWorkingCopy) {
    const Outcome r = run_velk(velk_single, single_args());
    EXPECT_EQ(r.out, head_lines() + "app.bin file can not be opened\r\n" + closing_exit);
    EXPECT_EQ(r.files, (Files{{"appbim_crc.bin", ""}}));
}

TEST(SingleOad, FailedFlashCrcRunStopsTheFlow) {
    // The twin cannot be created: the writer fails, and the flow must not
    // go on to pad and copy an image that was never written.
    const Bytes input = noise(100, 15);
    Sandbox box({{"app.bin", input}});
    box.mkdir("appbim_crc.out");
    const Outcome r = box.run(velk_single, single_args());
    EXPECT_EQ(r.out, start_lines(100) + "Can't open file appbim_crc.out.\n" + closing_exit);
    EXPECT_EQ(r.files, (Files{{"app.bin", input},
                              {"appbim_crc.bin", input},
                              {"appbim_crc_crc.bin", ""},
                              {"appbim_crc.out/", ""}}));
}

TEST(SingleOad, WriteFailuresUnderAFileSizeLimit) {
    // 100 input bytes: working copy 100 bytes, image 136, twin 544, output 256.
    const Bytes input = noise(100, 16);
    const Bytes image = ref_flash_crc_image(input, unscrambled);
    const struct {
        std::uint64_t limit;
        std::string printed;
        Files left;
    } cases[] = {
        {0, head_lines() + "write boot unsuccessfully in merge\r\n" + removal_exit, {}},
        {50, head_lines() + "write boot unsuccessfully in merge\r\n" + removal_exit, {}},
        {99, head_lines() + "write boot unsuccessfully in merge\r\n" + removal_exit, {}},
        {120, start_lines(100) + "Can't write file appbim_crc_crc.bin.\n" + closing_exit,
         {{"appbim_crc.bin", input}, {"appbim_crc_crc.bin", image.substr(0, 120)},
          {"appbim_crc.out", ""}}},
        {300, start_lines(100) + "Can't write file appbim_crc.out.\n" + closing_exit,
         {{"appbim_crc.bin", input}, {"appbim_crc_crc.bin", image},
          {"appbim_crc.out", ref_twin(image).substr(0, 300)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        const Outcome r =
            run_velk(velk_single, single_args(), {{"app.bin", input}}, Limits{.file_size = c.limit});
        EXPECT_EQ(r.out, c.printed);
        Files want = c.left;
        want["app.bin"] = input;
        EXPECT_EQ(r.files, want);
    }
}

TEST(SingleOad, FailedWriteOfTheOutputTakesTheRemovalExit) {
    const Bytes input = noise(100, 17);
    const Bytes image = ref_flash_crc_image(input, unscrambled);
    Sandbox box({{"app.bin", input}});
    box.symlink("/dev/full", "app_crc.bin");
    const Outcome r = box.run(velk_single, single_args());
    EXPECT_EQ(r.out, start_lines(100) + encrypt_success(136) + "write merge bin err\r\n" + removal_exit);
    EXPECT_EQ(r.files, (Files{{"app.bin", input},
                              {"app_crc.bin@", "/dev/full"},
                              {"appbim_crc_crc.bin", padded_to_256(image)},
                              {"appbim_crc.out", ref_twin(image)}}));
}

TEST(SingleOad, InputThatIsADirectoryIsRefusedBeforeTheWorkingCopy) {
    Sandbox box;
    box.mkdir("app.bin");
    const Outcome r = box.run(velk_single, single_args());
    EXPECT_EQ(r.out, head_lines() + "app.bin is a directory\r\n" + closing_exit);
    EXPECT_EQ(r.files, (Files{{"app.bin/", ""}}));
}

// Every file the run would write, a link to the input under its name: the
// refusal comes before anything is written, and the input is whole.
TEST(SingleOad, OutputOnTheInputIsRefused) {
    for (const char* name : {"appbim_crc.bin", "appbim_crc_crc.bin", "appbim_crc.out", "app_crc.bin"}) {
        SCOPED_TRACE(name);
        Sandbox box(Files{{"app.bin", "abc"}});
        box.symlink("app.bin", name);
        const Outcome r = box.run(velk_single, single_args());
        EXPECT_EQ(r.out, head_lines() + name +
                             " is the input app.bin; it would be overwritten, so it is "
                             "not written\r\n" +
                             closing_exit);
        EXPECT_EQ(r.files, (Files{{"app.bin", "abc"}, {std::string(name) + "@", "app.bin"}}));
    }
}

TEST(SingleOad, UpperCaseWordAndTheMergeEditionDiffer) {
    const Outcome upper =
        run_velk(velk_single, {"-OAD", "app.bin", "-v", "0x102"}, {{"app.bin", "abc"}});
    EXPECT_EQ(upper.files.at("app_crc.bin"), padded_to_256(ref_flash_crc_image("abc", unscrambled)));
    // The same command line in velk-merge wants three images.
    const Outcome merge = run_velk(velk_merge, {"-v", "0x102", "-oad", "app.bin"}, {{"app.bin", "abc"}});
    EXPECT_EQ(merge.files, (Files{{"app.bin", "abc"}}));
}

}  // namespace
}  // namespace velk::test

namespace velk::test {
namespace {

TEST(SingleOad, EndlessInputStopsTheRun) {
    // A device has no length to copy: refused before the working copy is
    // created. The file-size limit only keeps a broken build from filling
    // the disk.
    Sandbox box;
    box.symlink("/dev/zero", "app.bin");
    const Outcome r = box.run(velk_single, single_args(), Limits{.file_size = 1 << 20});
    EXPECT_EQ(r.out, head_lines() + "app.bin is not a regular file; its size cannot be known\r\n" +
                         closing_exit);
    EXPECT_EQ(r.files, (Files{{"app.bin@", "/dev/zero"}}));
}

}  // namespace
}  // namespace velk::test
