// -oad of velk-merge end to end: the merged image and both OAD images
// against the test's own model, the console lines, and every failure.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "harness.hpp"
#include "oad_merge_model.hpp"
#include "support.hpp"

namespace velk::test {
namespace {

// A merge run on boot.bin, stack.bin and app.bin with a fixed version
// (unless `default_version`, the version the run is to find itself), and the
// console text it prints up to the first step that touches a file.
struct MergeCase {
    Layout layout;
    std::vector<std::string> extra;  // -m / -l as the layout needs
    bool default_version = false;

    std::vector<std::string> args() const {
        std::vector<std::string> a = {"-oad", "boot.bin", "stack.bin", "app.bin"};
        if (!default_version) a.insert(a.end(), {"-v", "0x0102"});
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }
    bool given(const char* option) const {
        for (const auto& e : extra) {
            if (e == option) return true;
        }
        return false;
    }
    std::string start() const {
        return oad_opening({.version = layout.version,
                            .version_given = !default_version,
                            .link_given = given("-l"),
                            .stack_at = given("-m") ? layout.M : 0});
    }
    std::string boot_lines(std::size_t boot_len) const {
        return format("cmd_bin_oad.stack_file_addr=%x\r\nboot_bin_len=%zx\r\n", layout.M, boot_len);
    }
};

std::string success_text(const MergeCase& c, const Bytes& boot, const Merged& m,
                         const std::string& warnings = "") {
    std::string s = c.start() + c.boot_lines(boot.size()) + "add stack bin start\r\n" +
                    format("oad_stack_app_bin_len=%zx\r\noad_app_bin_len=%zx\r\n",
                           m.stack_oad.size(), m.app_oad.size()) +
                    warnings;
    for (char byte : m.app_header) s += format("%02x ", static_cast<unsigned char>(byte));
    s += "/**< @CREATE_FILE_SUCCESS */\r\n"
         "/**< @Download flash file:app_merge.bin\r\n";
    s += format("/**< @OAD file :app_stack.bin,CRC = 0x%08x\r\n", m.stack_crc);
    s += format("/**< @OAD file :app_app.bin,CRC = 0x%08x\r\n", m.app_crc);
    s += "/**< @author the velk developers */\r\n/**< @version v0.3 */\r\n";
    return s;
}

Files inputs(const Bytes& boot, const Bytes& stack, const Bytes& app) {
    return {{"boot.bin", boot}, {"stack.bin", stack}, {"app.bin", app}};
}

TEST(MergeOad, WorkedExampleWithDefaultLayout) {
    const Bytes boot = noise(0x1000, 1), stack = noise(0x20000, 2), app = noise(0x8000, 3);
    const MergeCase c;
    const Merged m = merge_model(boot, stack, app);
    const Outcome r = run_velk(velk_merge, c.args(), inputs(boot, stack, app));

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, success_text(c, boot, m));
    Files want = inputs(boot, stack, app);
    want["app_merge.bin"] = m.merged;
    want["app_stack.bin"] = m.stack_oad;
    want["app_app.bin"] = m.app_oad;
    EXPECT_EQ(r.files, want);  // the intermediate is gone, the inputs unchanged

    // The figures of the default layout, spelled out.
    EXPECT_EQ(m.pad, 0x70u);
    EXPECT_EQ(r.files.at("app_merge.bin").size(), 0x2DAF0u);
    EXPECT_EQ(r.files.at("app_stack.bin").size(), 0x2BC00u);
    EXPECT_EQ(r.files.at("app_app.bin").size(), 0x8080u);
    EXPECT_NE(r.out.find("oad_stack_app_bin_len=2bc00\r\noad_app_bin_len=8080\r\n"),
              std::string::npos);
    const Bytes& merged = r.files.at("app_merge.bin");
    EXPECT_EQ(merged.substr(0x1000, 0xF00 - 16), Bytes(0xF00 - 16, '\xFF'));         // boot fill
    EXPECT_EQ(merged.substr(0x1F00 + 0x20000, 0x3B80 - 16), Bytes(0x3B80 - 16, '\xFF'));  // stack fill
    EXPECT_EQ(merged.substr(0x1F00 - 16 + 6, 2), hex("00 AF"));  // length_words 0xAF00
    EXPECT_EQ(merged.substr(0x25A80 - 16 + 6, 2), hex("20 20"));  // length_words 0x2020
}

TEST(MergeOad, EveryOadImageIsItsHeaderAndTheBytesItsCrcCovers) {
    const Bytes boot = noise(100, 4), stack = noise(3000, 5), app = noise(5000, 6);
    const Outcome r = run_velk(velk_merge, MergeCase{}.args(), inputs(boot, stack, app));
    const Bytes& merged = r.files.at("app_merge.bin");
    const Bytes& stack_oad = r.files.at("app_stack.bin");
    const Bytes& app_oad = r.files.at("app_app.bin");
    for (const Bytes* image : {&stack_oad, &app_oad}) {
        EXPECT_EQ(image->substr(0, 4), le(jamcrc(image->substr(16)), 4));
        EXPECT_EQ(image->size() % 4, 0u);
    }
    EXPECT_EQ(stack_oad.size() % 256, 0u);
    EXPECT_EQ(stack_oad, merged.substr(0x1F00 - 16));
    EXPECT_EQ(stack_oad.substr(0x25A80 - 0x1F00), app_oad);
}

// Layouts that fit, including the edges where an image meets a header slot.
TEST(MergeOad, LayoutsThatFit) {
    const Layout small{.M = 0x100, .L = 0x200};
    const std::vector<std::string> small_args = {"-m", "0x100", "-l", "512"};
    const Bytes erased16(16, '\xFF');
    const struct {
        const char* name;
        Bytes boot, stack, app;
        Layout layout;
        std::vector<std::string> extra;
        std::size_t pad;
    } cases[] = {
        {"region already a multiple of 256 gets 256 more", noise(0x10), noise(0x20), noise(0xF0),
         small, small_args, 256},
        {"boot of exactly M - 16 bytes", noise(0xF0), noise(0x20), noise(1), small, small_args,
         0},
        {"boot reaching into the stack header slot with erased bytes",
         noise(0xF0) + Bytes(8, '\xFF'), noise(0x20), noise(1), small, small_args, 0},
        {"boot filling the whole slot with erased bytes", noise(0xF0) + erased16, noise(4),
         noise(4), small, small_args, 0},
        {"stack reaching into the app header slot with erased bytes", noise(4),
         noise(0xF0) + erased16, noise(4), small, small_args, 0},
        {"empty images", "", "", "", small, small_args, 0},
        {"octal and decimal offsets", noise(7), noise(9), noise(11), small,
         {"-m", "0400", "-l", "512"}, 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        const MergeCase c{k.layout, k.extra};
        const Merged m = merge_model(k.boot, k.stack, k.app, k.layout);
        if (k.pad != 0) {
            EXPECT_EQ(m.pad, k.pad);
        }
        const Outcome r = run_velk(velk_merge, c.args(), inputs(k.boot, k.stack, k.app));
        EXPECT_EQ(r.out, success_text(c, k.boot, m));
        Files want = inputs(k.boot, k.stack, k.app);
        want["app_merge.bin"] = m.merged;
        want["app_stack.bin"] = m.stack_oad;
        want["app_app.bin"] = m.app_oad;
        EXPECT_EQ(r.files, want);
    }
}

TEST(MergeOad, OptionsReachTheHeaders) {
    const Layout l{.M = 0x100, .L = 0x200, .version = 0x10203, .app_uid = 0x41414141,
                   .stack_uid = 7, .rom = 0x2345};
    const Bytes boot = noise(10), stack = noise(20), app = noise(30);
    const Merged m = merge_model(boot, stack, app, l);
    const Outcome r = run_velk(velk_merge,
                               {"-oad", "boot.bin", "stack.bin", "app.bin", "-v", "0x10203", "-m",
                                "0x100", "-l", "0x200", "-APP_U", "0x41414141", "-STACK_APP_U",
                                "7", "-rom_v", "0x12345"},
                               inputs(boot, stack, app));
    EXPECT_EQ(r.files.at("app_merge.bin"), m.merged);
    EXPECT_EQ(r.files.at("app_app.bin").substr(4, 2), hex("03 02"));  // low 16 bits of -v
}

TEST(MergeOad, LengthWordsWrapIsReported) {
    const Layout l{.M = 0x100, .L = 0x200};
    const MergeCase c{l, {"-m", "0x100", "-l", "0x200"}};
    const Bytes boot = noise(4), stack = noise(4), app = noise(0x40000, 9);
    const Merged m = merge_model(boot, stack, app, l);
    ASSERT_GE(m.app_oad.size(), 0x40000u);
    const std::string warnings =
        format("warning: the stack OAD image is 0x%zx bytes long; its header's length_words "
               "keeps only the low 16 bits of 0x%zx words\r\n",
               m.stack_oad.size(), m.stack_oad.size() / 4) +
        format("warning: the app OAD image is 0x%zx bytes long; its header's length_words "
               "keeps only the low 16 bits of 0x%zx words\r\n",
               m.app_oad.size(), m.app_oad.size() / 4);
    const Outcome r = run_velk(velk_merge, c.args(), inputs(boot, stack, app));
    EXPECT_EQ(r.out, success_text(c, boot, m, warnings));
    EXPECT_EQ(r.files.at("app_app.bin"), m.app_oad);  // still the low 16 bits
}

// Runs that fail: what they print after the start lines, and what is left.
TEST(MergeOad, RefusedLayoutsWriteNothing) {
    const Layout small{.M = 0x100, .L = 0x200};
    const std::vector<std::string> small_args = {"-m", "0x100", "-l", "0x200"};
    const std::string& removal = removal_exit;
    const struct {
        const char* name;
        Bytes boot, stack;
        std::vector<std::string> extra;
        std::string printed;
    } cases[] = {
        {"boot longer than the stack offset", noise(0x101), noise(4), small_args,
         "boot image boot.bin is 0x101 bytes long and runs into the stack image at 0x100\r\n"},
        {"boot covering the stack header with data", noise(0xF8) + hex("FF FF FF 00"), noise(4),
         small_args,
         "boot image boot.bin is 0xfc bytes long and runs into the stack header at 0xf0\r\n"},
        {"stack running past the link address", noise(4), noise(0x101), small_args,
         "stack image stack.bin is 0x101 bytes long and runs into the app image at 0x200\r\n"},
        {"stack covering the app header with data", noise(4), noise(0xF1), small_args,
         "stack image stack.bin is 0xf1 bytes long and runs into the app header at 0x1f0\r\n"},
        {"stack offset below 16", noise(4), noise(4), {"-m", "8", "-l", "0x200"},
         "stack_file_addr 0x8 leaves no room for the 16-byte stack header before it\r\n"},
        {"link address with no room for the app header", noise(4), Bytes(), 
         {"-m", "0x100", "-l", "0x10f"},
         "link_addr 0x10f leaves no room for the 16-byte app header after the stack at "
         "0x100\r\n"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        Layout l = small;
        if (k.extra[1] == "8") l.M = 8;
        const MergeCase c{l, k.extra};
        const Files in = inputs(k.boot, k.stack, noise(8));
        const Outcome r = run_velk(velk_merge, c.args(), in);
        const bool boot_checked = k.printed.starts_with("stack image");
        std::string want = c.start();
        if (boot_checked) want += c.boot_lines(k.boot.size()) + "add stack bin start\r\n";
        EXPECT_EQ(r.out, want + k.printed + removal);
        EXPECT_EQ(r.files, in);  // no output, no intermediate, inputs unchanged
    }
}

TEST(MergeOad, SourceDateEpochGivesTheDefaultVersionOfBothHeaders) {
    // The version of each time in UTC, worked out by hand: the year plus
    // the month from 0, the day, the hour, the minute and the second.
    const struct {
        const char* epoch;
        std::uint32_t version;
    } cases[] = {
        {"0", 1970 + 0 + 1},                            // 1970-01-01 00:00:00
        {"1234567890", 2009 + 1 + 13 + 23 + 31 + 30},   // 2009-02-13 23:31:30
        {"1700000000", 2023 + 10 + 14 + 22 + 13 + 20}, // 2023-11-14 22:13:20
    };
    const Bytes boot = noise(10, 1), stack = noise(20, 2), app = noise(30, 3);
    for (const auto& k : cases) {
        SCOPED_TRACE(k.epoch);
        MergeCase c{{.M = 0x100, .L = 0x200}, {"-m", "0x100", "-l", "0x200"}, true};
        c.layout.version = k.version;
        const Merged m = merge_model(boot, stack, app, c.layout);
        // The time zone is far from UTC, so that a local time would show.
        const Environment env = {{"SOURCE_DATE_EPOCH", k.epoch}, {"TZ", "VLK-05:30"}};
        const Outcome r = run_velk(velk_merge, c.args(), inputs(boot, stack, app), {}, env);
        EXPECT_EQ(r.out, success_text(c, boot, m));
        Files want = inputs(boot, stack, app);
        want["app_merge.bin"] = m.merged;
        want["app_stack.bin"] = m.stack_oad;
        want["app_app.bin"] = m.app_oad;
        EXPECT_EQ(r.files, want);
        // The same value gives the same bytes on every run.
        const Outcome again = run_velk(velk_merge, c.args(), inputs(boot, stack, app), {}, env);
        EXPECT_EQ(again.out, r.out);
        EXPECT_EQ(again.files, r.files);
    }
}

TEST(MergeOad, MalformedSourceDateEpochIsRefusedBeforeAnyFile) {
    const Files in = inputs(noise(4), noise(4), noise(4));
    const MergeCase c{{}, {}, true};
    for (const char* epoch : {"abc", "-1", "1.5", "0x10", "1700000000 ", "999999999999999999"}) {
        const Outcome r = run_velk(velk_merge, c.args(), in, {}, {{"SOURCE_DATE_EPOCH", epoch}});
        EXPECT_EQ(r.out, std::string("SOURCE_DATE_EPOCH=") + epoch +
                             " is not a number of seconds since 1970\r\n")
            << epoch;
        EXPECT_EQ(r.files, in) << epoch;
        EXPECT_EQ(r.status, 0);
    }
}

TEST(MergeOad, KeysAreOnlyAnnouncedNeverRead) {
    // The merge scrambles nothing, so its keys are never read as numbers:
    // one that is not a bare hexadecimal word changes nothing.
    const Bytes boot = noise(10, 1), stack = noise(20, 2), app = noise(30, 3);
    const MergeCase plain{{.M = 0x100, .L = 0x200}, {"-m", "0x100", "-l", "0x200"}};
    const Outcome want = run_velk(velk_merge, plain.args(), inputs(boot, stack, app));
    std::vector<std::string> args = plain.args();
    args.insert(args.end(), {"-e", "0x12345678", "zz", "+1", "0x01000000"});
    const Outcome r = run_velk(velk_merge, args, inputs(boot, stack, app));
    const std::string key_notices = oad_notices({.link_given = true, .rom_given = true});
    std::string expected = want.out;
    expected.erase(expected.find(key_notices), key_notices.size());
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.files, want.files);
}

TEST(MergeOad, FewerThanThreeNamesCreateNothing) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-oad"}, {"-oad", "boot.bin"}, {"-oad", "boot.bin", "stack.bin", "-v"}}) {
        const Files in = inputs(noise(4), noise(4), noise(4));
        const Outcome r = run_velk(velk_merge, args, in);
        EXPECT_EQ(r.files, in);
        EXPECT_NE(r.out.find("needs"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("open_fexit"), std::string::npos);
    }
    const Outcome r = run_velk(velk_merge, {"-v", "1", "-oad", "a.bin", "b.bin"});
    EXPECT_EQ(r.out, oad_notices({}) + "-oad needs three file names after it: boot, stack and app\r\n");
}

TEST(MergeOad, UpperCaseWordLocatesTheNames) {
    const Bytes boot = noise(4), stack = noise(4), app = noise(4);
    const Outcome r = run_velk(velk_merge, {"-OAD", "boot.bin", "stack.bin", "app.bin"},
                               inputs(boot, stack, app));
    EXPECT_EQ(r.files.at("app_app.bin").substr(16), merge_model(boot, stack, app).app_oad.substr(16));
}

TEST(MergeOad, MissingInputsTakeTheClosingExit) {
    const Bytes boot = noise(0x10), stack = noise(0x20), app = noise(0x30);
    const MergeCase c;
    const std::string boot_done = c.boot_lines(boot.size()) + "add stack bin start\r\n";
    const Bytes after_boot = boot + Bytes(0x1F00 - boot.size(), '\xFF');
    const Bytes after_stack = after_boot + stack + Bytes(0x25A80 - 0x1F00 - stack.size(), '\xFF');
    const struct {
        const char* missing;
        std::string printed;
        Bytes intermediate;  // kept, holding what was written so far
    } cases[] = {
        {"boot.bin", "boot.bin file can not be opened\r\nopen_fexit \r\n", ""},
        {"stack.bin", boot_done + "stack.bin file can not be opened\r\nopen_fexit \r\n",
         after_boot},
        {"app.bin", boot_done + "app.bin file can not be opened\r\nopen_fexit \r\n",
         after_stack},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.missing);
        Files in = inputs(boot, stack, app);
        in.erase(k.missing);
        const Outcome r = run_velk(velk_merge, c.args(), in);
        EXPECT_EQ(r.out, c.start() + k.printed);
        Files want = in;
        want["app_merge_boot_stack.bin"] = k.intermediate;
        EXPECT_EQ(r.files, want);
    }
}

// Every file the run would write is checked against the inputs before the
// first one is created, so a refusal leaves nothing behind: not the
// intermediate, and not the outputs before the refused one.
TEST(MergeOad, OutputsNeverOverwriteAnInput) {
    const Bytes boot = noise(4, 1), stack = noise(4, 2), app = noise(4, 3);
    const struct {
        const char* name;
        std::vector<std::string> names;  // boot, stack and app, as given after -oad
        Files images;
        std::vector<std::pair<std::string, std::string>> links;  // name -> target
        std::string refused;
    } cases[] = {
        {"the merged image on the boot image, by name",
         {"app_merge.bin", "stack.bin", "app.bin"},
         {{"app_merge.bin", boot}, {"stack.bin", stack}, {"app.bin", app}},
         {},
         "app_merge.bin is the input app_merge.bin"},
        {"the intermediate on the stack image, through a link",
         {"boot.bin", "stack.bin", "app.bin"},
         inputs(boot, stack, app),
         {{"app_merge_boot_stack.bin", "stack.bin"}},
         "app_merge_boot_stack.bin is the input stack.bin"},
        {"the stack OAD image on the app image, through a link",
         {"boot.bin", "stack.bin", "app.bin"},
         inputs(boot, stack, app),
         {{"app_stack.bin", "app.bin"}},
         "app_stack.bin is the input app.bin"},
        // The last output of the set: refused once the first two had been
        // written, before every name was checked first.
        {"the app OAD image on the boot and stack images, by name",
         {"app_app.bin", "app_app.bin", "app.bin"},
         {{"app_app.bin", boot}, {"app.bin", app}},
         {},
         "app_app.bin is the input app_app.bin"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        Sandbox box(k.images);
        for (const auto& [name, target] : k.links) box.symlink(target, name);
        const Files before = box.files();
        std::vector<std::string> args = {"-oad"};
        args.insert(args.end(), k.names.begin(), k.names.end());
        args.insert(args.end(), {"-v", "0x0102"});
        const Outcome r = box.run(velk_merge, args);
        EXPECT_EQ(r.out, MergeCase{}.start() + k.refused +
                             "; it would be overwritten, so it is not written\r\nopen_fexit \r\n");
        EXPECT_EQ(r.files, before);
    }
}

TEST(MergeOad, UncreatableOutputsTakeTheClosingExit) {
    const Bytes boot = noise(4), stack = noise(4), app = noise(4);
    const Merged m = merge_model(boot, stack, app);
    const MergeCase c;
    const std::string up_to_headers = c.start() + c.boot_lines(4) + "add stack bin start\r\n" +
                                      format("oad_stack_app_bin_len=%zx\r\noad_app_bin_len=%zx\r\n",
                                             m.stack_oad.size(), m.app_oad.size());
    std::string header_dump;
    for (char byte : m.app_header) header_dump += format("%02x ", static_cast<unsigned char>(byte));
    const Bytes intermediate = m.merged.substr(0, 0x1F00 - 16) + Bytes(16, '\xFF') +
                               m.merged.substr(0x1F00, 0x25A80 - 16 - 0x1F00) +
                               Bytes(16, '\xFF') + m.merged.substr(0x25A80);
    {
        Sandbox box(inputs(boot, stack, app));
        box.mkdir("app_merge_boot_stack.bin");
        const Outcome r = box.run(velk_merge, c.args());
        EXPECT_EQ(r.out, c.start() +
                             "app_merge_boot_stack.bin file can not be created\r\nopen_fexit \r\n");
        Files want = inputs(boot, stack, app);
        want["app_merge_boot_stack.bin/"] = "";
        EXPECT_EQ(r.files, want);
    }
    {
        Sandbox box(inputs(boot, stack, app));
        box.mkdir("app_stack.bin");
        const Outcome r = box.run(velk_merge, c.args());
        EXPECT_EQ(r.out, up_to_headers + header_dump +
                             "app_stack.bin file can not be created\r\nopen_fexit \r\n");
        Files want = inputs(boot, stack, app);
        want["app_stack.bin/"] = "";
        want["app_merge_boot_stack.bin"] = intermediate;  // the closing exit keeps it
        want["app_merge.bin"] = m.merged;
        EXPECT_EQ(r.files, want);
    }
}

TEST(MergeOad, WriteFailuresAreReportedAndNoBannerFollows) {
    const Layout small{.M = 0x100, .L = 0x200};
    const MergeCase c{small, {"-m", "0x100", "-l", "0x200"}};
    const Bytes boot = noise(0x40), stack = noise(0x40), app = noise(0x40);
    const std::string& removal = removal_exit;
    const std::string boot_done = c.boot_lines(boot.size()) + "add stack bin start\r\n";
    const struct {
        std::uint64_t limit;
        std::string printed;
        bool intermediate_kept;
    } cases[] = {
        {0, "write boot unsuccessfully in merge\r\n" + removal, false},
        {0x20, "write boot unsuccessfully in merge\r\n" + removal, false},
        {0x80, c.boot_lines(boot.size()) + "write oad flie unsuccessfully in oad.\r\n" + removal,
         false},
        {0x120, boot_done + "write bin unsuccessfully in oad.\r\n" + removal, false},
        {0x1C0, boot_done + "write oad flie unsuccessfully in oad.\r\n" + removal, false},
        {0x220, boot_done + "write bin unsuccessfully in oad.\r\n" + removal, false},
        // The intermediate is complete, its end padding is not.
        {0x240, boot_done + "write merge flie 0xff unsuccessfully.\r\nopen_fexit \r\n", true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.limit);
        const Files in = inputs(boot, stack, app);
        Sandbox box(in);
        const Outcome r = box.run(velk_merge, c.args(), Limits{.file_size = k.limit});
        EXPECT_EQ(r.out, c.start() + k.printed);
        Files want = in;
        if (k.intermediate_kept) {
            // Cut off at the limit, in the middle of the end padding.
            const Merged m = merge_model(boot, stack, app, small);
            want["app_merge_boot_stack.bin"] =
                boot + Bytes(0x100 - 0x40, '\xFF') + stack + Bytes(0x200 - 0x140, '\xFF') + app +
                Bytes(k.limit - 0x240, '\xFF');
        }
        EXPECT_EQ(r.files, want);
    }
}

TEST(MergeOad, FailedWritesOfTheFinalImagesAreReported) {
    // A link to /dev/full makes every write to that output fail for real.
    const Bytes boot = noise(4), stack = noise(4), app = noise(4);
    const struct {
        const char* output;
        const char* printed;
    } cases[] = {
        {"app_merge.bin", "write merge bin err\r\ncreate_fexit \r\nopen_fexit \r\n"},
        {"app_stack.bin", "write oad bin err\r\ncreate_fexit \r\nopen_fexit \r\n"},
        {"app_app.bin", "write oad bin err\r\ncreate_fexit \r\nopen_fexit \r\n"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.output);
        Sandbox box(inputs(boot, stack, app));
        box.symlink("/dev/full", k.output);
        const Outcome r = box.run(velk_merge, MergeCase{}.args());
        EXPECT_TRUE(r.out.ends_with(k.printed)) << r.out;
        EXPECT_EQ(r.out.find("SUCCESS"), std::string::npos);
        EXPECT_EQ(r.files.count("app_merge_boot_stack.bin"), 0u);  // removed by the exit
        EXPECT_EQ(r.files.at("boot.bin"), boot);
        EXPECT_EQ(r.files.at("stack.bin"), stack);
        EXPECT_EQ(r.files.at("app.bin"), app);
    }
}

TEST(MergeOad, InputThatIsADirectoryIsRefusedBeforeAnyFileIsCreated) {
    // A directory would open, and fail only once the intermediate exists.
    for (const char* image : {"boot.bin", "stack.bin", "app.bin"}) {
        SCOPED_TRACE(image);
        Files in = inputs(noise(4, 1), noise(4, 2), noise(4, 3));
        in.erase(image);
        Sandbox box(in);
        box.mkdir(image);
        const Outcome r = box.run(velk_merge, MergeCase{}.args());
        EXPECT_EQ(r.out, MergeCase{}.start() + image + " is a directory\r\nopen_fexit \r\n");
        in[std::string(image) + "/"] = "";
        EXPECT_EQ(r.files, in);
    }
}

}  // namespace
}  // namespace velk::test

namespace velk::test {
namespace {

// Devices in place of files have no length and no end. A run must notice,
// not copy forever; the file-size limit only keeps a broken build from
// filling the disk.
TEST(MergeOad, DevicesInPlaceOfFilesStopTheRun) {
    const Bytes boot = noise(4), stack = noise(4), app = noise(4);
    const Limits safety{.file_size = 1 << 20};
    {
        // Writes to /dev/null succeed, but the intermediate reads back empty.
        Sandbox box(inputs(boot, stack, app));
        box.symlink("/dev/null", "app_merge_boot_stack.bin");
        const Outcome r = box.run(velk_merge, MergeCase{}.args(), safety);
        EXPECT_TRUE(r.out.ends_with("add stack bin start\r\napp_merge_boot_stack.bin file can not "
                                    "be read\r\ncreate_fexit \r\nopen_fexit \r\n"))
            << r.out;
        EXPECT_EQ(r.files, inputs(boot, stack, app));  // the link is removed with it
    }
    {
        // An endless input has no length to lay out: refused before the
        // intermediate is created.
        Sandbox box({{"stack.bin", stack}, {"app.bin", app}});
        box.symlink("/dev/zero", "boot.bin");
        const Outcome r = box.run(velk_merge, MergeCase{}.args(), safety);
        EXPECT_EQ(r.out, MergeCase{}.start() +
                             "boot.bin is not a regular file; its size cannot be known\r\n"
                             "open_fexit \r\n");
        EXPECT_EQ(r.files, (Files{{"stack.bin", stack}, {"app.bin", app}, {"boot.bin@", "/dev/zero"}}));
    }
}

}  // namespace
}  // namespace velk::test
