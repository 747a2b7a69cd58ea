// Real operating-system faults, end to end, for every command of both
// programs: -crc, -txt, -c, and -oad of velk-merge and of velk-single.
//
// One row per fault. A row names the images it starts from, the command
// line, what it breaks before the run (an image missing, or replaced by a
// directory, a device or a FIFO that a writer feeds; a directory or a
// symbolic link standing where a file will be written) and where a
// file-size limit makes writing fail. Then it says
// exactly what the run prints, which entries the directory holds afterwards
// besides the images, and the images themselves must be byte for byte what
// they were. No failure may be followed by a success line.
//
// Faults come from the system itself, never from file permissions (CI runs
// as root): a link into a directory that does not exist, a directory where a
// file is to be created, a link to a device (/dev/full fails every write,
// /dev/null reads back nothing, /dev/zero never ends), and RLIMIT_FSIZE,
// which makes a write past the limit fail with EFBIG (the harness ignores
// SIGXFSZ).
//
// A limit hits whichever file first grows past it, so a file written after
// a longer one can only be reached through a link to /dev/full; the rows
// below say so where that happens.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "harness.hpp"
#include "oad_merge_model.hpp"
#include "support.hpp"

namespace velk::test {
namespace {

// What is done to the sandbox before the run.
struct Change {
    enum Kind { directory, link, fifo } kind;
    std::string name;
    std::string target;  // of a link; the bytes a writer feeds into a FIFO
};
Change dir(const std::string& name) { return {Change::directory, name, ""}; }
Change link(const std::string& name, const std::string& target) { return {Change::link, name, target}; }
// A FIFO that a writer feeds 75 bytes, as `cat fw.bin |` would: it has no
// size until it has been read to its end.
Change fed_fifo(const std::string& name) { return {Change::fifo, name, noise(75, 79)}; }
// A link whose target lies in a directory that does not exist: creating the
// file through it fails as for "nodir/name".
Change in_missing_dir(const std::string& name) { return link(name, "nodir/" + name); }
Change full_device(const std::string& name) { return link(name, "/dev/full"); }

// Where writing starts to fail: a byte offset, or a place in one of the
// files a good run of the same command line writes.
struct Cut {
    enum Where { first, middle, last, at } where;
    std::string file;  // for first, middle and last
    std::uint64_t bytes = 0;  // for at
};
Cut cut(Cut::Where where, const std::string& file) { return {where, file, 0}; }
Cut cut_at(std::uint64_t bytes) { return {Cut::at, "", bytes}; }

struct Case {
    std::string name;
    std::vector<std::string> programs;
    Files inputs;  // the images present; each must be unchanged afterwards
    std::vector<std::string> args;
    std::vector<Change> setup;
    std::optional<Cut> limit;
    std::string printed;        // the whole standard output
    std::set<std::string> left;  // every other entry afterwards, in the harness's naming
    const char* success;        // the command's success line, never printed here
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

Files without(Files files, const std::string& name) {
    files.erase(name);
    return files;
}

const std::vector<std::string> both = {velk_merge, velk_single};
const std::string& removal = removal_exit;
const std::string& closing = closing_exit;
const char* const banner = "@CREATE_FILE_SUCCESS";

// ---- -crc: a.bin of 1000 bytes; image a_crc.bin (1088), then twin a.out (4352) ----

void add_crc_cases(std::vector<Case>& cases) {
    const Files in = {{"a.bin", noise(1000, 71)}};
    const std::vector<std::string> args = {"-crc", "a.bin"};
    const auto row = [&](std::string name, Files inputs, std::vector<Change> setup,
                         std::optional<Cut> limit, std::string printed,
                         std::set<std::string> left) {
        cases.push_back({"crc_" + name, both, std::move(inputs), args, std::move(setup), limit,
                         std::move(printed), std::move(left), "Encrypt Seccessfully"});
    };
    row("input_missing", {}, {}, {}, "Can't open file a.bin.\n", {});
    // Inputs that are not regular files are refused before an output is
    // created, or truncated (the earlier outputs here stay as they were).
    const Files earlier = {{"a_crc.bin", "earlier image"}, {"a.out", "earlier twin"}};
    row("input_is_directory", earlier, {dir("a.bin")}, {}, "a.bin is a directory\n", {"a.bin/"});
    const std::string unmeasured = "a.bin is not a regular file; its size cannot be known\n";
    row("input_is_fifo", earlier, {fed_fifo("a.bin")}, {}, unmeasured, {"a.bin|"});
    row("input_is_endless_device", earlier, {link("a.bin", "/dev/zero")}, {}, unmeasured,
        {"a.bin@"});
    row("image_in_missing_directory", in, {in_missing_dir("a_crc.bin")}, {},
        "Can't open file a_crc.bin.\n", {"a_crc.bin@"});
    row("image_is_directory", in, {dir("a_crc.bin")}, {}, "Can't open file a_crc.bin.\n",
        {"a_crc.bin/"});
    row("twin_in_missing_directory", in, {in_missing_dir("a.out")}, {},
        "Can't open file a.out.\n", {"a_crc.bin", "a.out@"});
    row("twin_is_directory", in, {dir("a.out")}, {}, "Can't open file a.out.\n",
        {"a_crc.bin", "a.out/"});
    const std::string image_failed = "Can't write file a_crc.bin.\n";
    const std::string twin_failed = "Can't write file a.out.\n";
    row("image_write_first_byte", in, {}, cut(Cut::first, "a_crc.bin"), image_failed,
        {"a_crc.bin", "a.out"});
    row("image_write_middle", in, {}, cut(Cut::middle, "a_crc.bin"), image_failed,
        {"a_crc.bin", "a.out"});
    row("image_write_last_byte", in, {}, cut(Cut::last, "a_crc.bin"), image_failed,
        {"a_crc.bin", "a.out"});
    // A limit of 0 stops the image first; the twin's first byte needs the device.
    row("twin_write_first_byte", in, {full_device("a.out")}, {}, twin_failed,
        {"a_crc.bin", "a.out@"});
    row("twin_write_middle", in, {}, cut(Cut::middle, "a.out"), twin_failed,
        {"a_crc.bin", "a.out"});
    row("twin_write_last_byte", in, {}, cut(Cut::last, "a.out"), twin_failed,
        {"a_crc.bin", "a.out"});
}

// ---- -txt and -c: a.bin of 1000 bytes, default options ----

void add_export_cases(std::vector<Case>& cases) {
    const Files in = {{"a.bin", noise(1000, 72)}};
    struct Export {
        const char* prefix;   // of the row names
        const char* word;     // the command word
        const char* derived;  // the output name derived from a.bin
        // Everything printed before the output name is opened, for a given
        // output name (empty: none given).
        std::string (*settings)(const std::string& given);
        const char* name_line;  // printed with the name in use
    };
    const Export exports[] = {
        {"txt_", "-txt", "a_qz.txt",
         [](const std::string&) { return txt_settings("a.bin", 0, 0, 8); }, "text file name:"},
        {"c_", "-c", "a_qz.c",
         [](const std::string& given) {
             return c_settings("a.bin", given.empty() ? "(null)" : given, 32);
         },
         "c file name:"},
    };
    for (const Export& e : exports) {
        const auto row = [&](std::string name, Files inputs, std::string given,
                             std::vector<Change> setup, std::optional<Cut> limit,
                             std::string printed_after_settings, std::set<std::string> left) {
            std::vector<std::string> args = {e.word, "a.bin"};
            if (!given.empty()) args.push_back(given);
            cases.push_back({e.prefix + name, both, std::move(inputs), args, std::move(setup),
                             limit, e.settings(given) + printed_after_settings, std::move(left),
                             nullptr});
        };
        const std::string derived = e.derived;
        const std::string named = e.name_line + derived + "\r\n";
        const std::string not_written = derived + " file can not be written\r\n";
        row("input_missing", {}, "", {}, {}, "a.bin file can not be opened\r\n", {});
        // Refused before the output is created, or truncated.
        row("input_is_directory", {{derived, "an earlier run's output"}}, "", {dir("a.bin")}, {},
            "a.bin is a directory\r\n", {"a.bin/"});
        row("output_in_missing_directory", in, "nodir/out", {}, {},
            e.name_line + std::string("nodir/out\r\nnodir/out file can not be created\r\n"), {});
        row("output_is_directory", in, "out", {dir("out")}, {},
            e.name_line + std::string("out\r\nout file can not be created\r\n"), {"out/"});
        row("write_first_byte", in, "", {}, cut(Cut::first, derived), named + not_written,
            {derived});
        row("write_middle", in, "", {}, cut(Cut::middle, derived), named + not_written,
            {derived});
        row("write_last_byte", in, "", {}, cut(Cut::last, derived), named + not_written,
            {derived});
        row("output_full_device", in, "/dev/full", {}, {},
            e.name_line + std::string("/dev/full\r\n/dev/full file can not be written\r\n"), {});
    }
    // The C array declares its length before its data, so an input of no
    // known length is refused; the text dump streams it (see export_test).
    const Files earlier = {{"a_qz.c", "an earlier run's output"}};
    const std::string unmeasured = "a.bin is not a regular file; its size cannot be known\r\n";
    for (const auto& [name, change, left] :
         {std::tuple{"c_input_is_fifo", fed_fifo("a.bin"), "a.bin|"},
          std::tuple{"c_input_is_endless_device", link("a.bin", "/dev/zero"), "a.bin@"}}) {
        cases.push_back({name, both, earlier, {"-c", "a.bin"}, {change}, {},
                         c_settings("a.bin", "(null)", 32) + unmeasured, {left}, nullptr});
    }
}

// ---- -oad of velk-merge ----

// boot.bin, stack.bin and app.bin of 0x40 bytes each at -m 0x1100 -l 0x2200:
// room enough before each header slot for an image that is an empty
// directory (4096 bytes on most file systems). The intermediate is 0x22F0
// bytes: boot at 0, fill from 0x40, stack at 0x1100, fill from 0x1140, app
// at 0x2200 and the end padding from 0x2240. Every output after it is no
// longer than it, so a limit always stops the intermediate first: the
// outputs' writes are reached through /dev/full.
struct MergeRun {
    Layout layout{.M = 0x1100, .L = 0x2200};
    Files inputs = {{"boot.bin", noise(0x40, 73)}, {"stack.bin", noise(0x40, 74)},
                    {"app.bin", noise(0x40, 75)}};

    std::vector<std::string> args() const {
        return {"-oad", "boot.bin", "stack.bin", "app.bin", "-v", "0x102",
                "-m", format("0x%x", layout.M), "-l", format("0x%x", layout.L)};
    }
    std::string started() const {
        return oad_opening({.link_given = true, .stack_at = layout.M});
    }
    std::string boot_copied() const {
        return started() + format("cmd_bin_oad.stack_file_addr=%x\r\nboot_bin_len=%zx\r\n",
                                  layout.M, inputs.at("boot.bin").size());
    }
    std::string stack_started() const { return boot_copied() + "add stack bin start\r\n"; }
    // Through the app header's bytes, which the stack CRC pass prints.
    std::string headers_filled() const {
        const Merged m = merge_model(inputs.at("boot.bin"), inputs.at("stack.bin"),
                                     inputs.at("app.bin"), layout);
        std::string s = stack_started() +
                        format("oad_stack_app_bin_len=%zx\r\noad_app_bin_len=%zx\r\n",
                               m.stack_oad.size(), m.app_oad.size());
        for (char byte : m.app_header) s += format("%02x ", static_cast<unsigned char>(byte));
        return s;
    }
};

void add_merge_cases(std::vector<Case>& cases) {
    const MergeRun run;
    const Files& in = run.inputs;
    const std::string inter = "app_merge_boot_stack.bin";
    const auto row = [&](std::string name, Files inputs, std::vector<Change> setup,
                         std::optional<Cut> limit, std::string printed,
                         std::set<std::string> left, const MergeRun& r) {
        cases.push_back({"merge_" + name, {velk_merge}, std::move(inputs), r.args(),
                         std::move(setup), limit, std::move(printed), std::move(left), banner});
    };
    const auto add = [&](std::string name, Files inputs, std::vector<Change> setup,
                         std::optional<Cut> limit, std::string printed,
                         std::set<std::string> left) {
        row(std::move(name), std::move(inputs), std::move(setup), limit, std::move(printed),
            std::move(left), run);
    };

    // Images that cannot be opened, each when its turn comes: the closing
    // exit keeps the intermediate as far as it was written.
    add("boot_missing", without(in, "boot.bin"), {}, {},
        run.started() + "boot.bin file can not be opened\r\n" + closing, {inter});
    add("stack_missing", without(in, "stack.bin"), {}, {},
        run.stack_started() + "stack.bin file can not be opened\r\n" + closing, {inter});
    add("app_missing", without(in, "app.bin"), {}, {},
        run.stack_started() + "app.bin file can not be opened\r\n" + closing, {inter});
    // Images whose length cannot be known are refused before the
    // intermediate is created: a directory, a FIFO, a device that never ends.
    for (const char* image : {"boot.bin", "stack.bin", "app.bin"}) {
        const std::string name = image;
        add(name.substr(0, name.size() - 4) + "_is_directory", without(in, name), {dir(name)}, {},
            run.started() + name + " is a directory\r\n" + closing, {name + "/"});
    }
    const std::string unmeasured = " is not a regular file; its size cannot be known\r\n";
    add("stack_is_fifo", without(in, "stack.bin"), {fed_fifo("stack.bin")}, {},
        run.started() + "stack.bin" + unmeasured + closing, {"stack.bin|"});
    add("boot_is_endless_device", without(in, "boot.bin"), {link("boot.bin", "/dev/zero")}, {},
        run.started() + "boot.bin" + unmeasured + closing, {"boot.bin@"});

    // The intermediate: not created, then each step that writes it.
    const std::string inter_not_created = inter + " file can not be created\r\n";
    add("intermediate_in_missing_directory", in, {in_missing_dir(inter)}, {},
        run.started() + inter_not_created + closing, {inter + "@"});
    add("intermediate_is_directory", in, {dir(inter)}, {},
        run.started() + inter_not_created + closing, {inter + "/"});
    // The removal exit deletes the link, never the device.
    add("intermediate_full_device", in, {full_device(inter)}, {},
        run.started() + "write boot unsuccessfully in merge\r\n" + removal, {});
    // Writes vanish into /dev/null and the intermediate reads back empty.
    add("intermediate_null_device", in, {link(inter, "/dev/null")}, {},
        run.stack_started() + inter + " file can not be read\r\n" + removal, {});
    const std::string boot_failed = "write boot unsuccessfully in merge\r\n" + removal;
    const std::string fill_failed = "write oad flie unsuccessfully in oad.\r\n" + removal;
    const std::string image_failed = "write bin unsuccessfully in oad.\r\n" + removal;
    const std::string pad_failed = "write merge flie 0xff unsuccessfully.\r\n" + closing;
    add("boot_copy_write_first_byte", in, {}, cut_at(0), run.started() + boot_failed, {});
    add("boot_copy_write_middle", in, {}, cut_at(0x20), run.started() + boot_failed, {});
    add("fill_after_boot_write", in, {}, cut_at(0x40), run.boot_copied() + fill_failed, {});
    add("stack_copy_write", in, {}, cut_at(0x1100), run.stack_started() + image_failed, {});
    // 0x1178, the intermediate's middle, lies in this fill.
    add("fill_after_stack_write", in, {}, cut_at(0x1178), run.stack_started() + fill_failed, {});
    add("app_copy_write", in, {}, cut_at(0x2200), run.stack_started() + image_failed, {});
    // The padding is appended to the finished intermediate; the closing exit keeps it.
    add("padding_write_first_byte", in, {}, cut_at(0x2240), run.stack_started() + pad_failed,
        {inter});
    add("padding_write_last_byte", in, {}, cut_at(0x22EF), run.stack_started() + pad_failed,
        {inter});

    // The three outputs, each after the ones before it were written whole.
    const struct {
        const char* name;
        const char* file;
        const char* write_failed;
        std::set<std::string> before;  // outputs already written
    } outputs[] = {
        {"merged", "app_merge.bin", "write merge bin err\r\n", {}},
        {"stack_oad", "app_stack.bin", "write oad bin err\r\n", {"app_merge.bin"}},
        {"app_oad", "app_app.bin", "write oad bin err\r\n", {"app_merge.bin", "app_stack.bin"}},
    };
    for (const auto& o : outputs) {
        const std::string file = o.file;
        const auto with = [&](std::set<std::string> names) {
            names.insert(o.before.begin(), o.before.end());
            return names;
        };
        const std::string not_created = file + " file can not be created\r\n";
        add(std::string(o.name) + "_in_missing_directory", in, {in_missing_dir(file)}, {},
            run.headers_filled() + not_created + closing, with({inter, file + "@"}));
        add(std::string(o.name) + "_is_directory", in, {dir(file)}, {},
            run.headers_filled() + not_created + closing, with({inter, file + "/"}));
        add(std::string(o.name) + "_full_device", in, {full_device(file)}, {},
            run.headers_filled() + o.write_failed + removal, with({file + "@"}));
    }
    // A link address near 4 GiB asks for gigabytes of fill; a failed write
    // in it ends the run there, not after the whole fill has been counted
    // into the CRCs (found by fuzzing: minutes of work before the report).
    MergeRun far;
    far.layout.L = 0xFFFFFFFF;
    row("fill_of_4_gib_stops_at_the_failed_write", far.inputs, {}, cut_at(0x2000),
        far.stack_started() + fill_failed, {}, far);
    // With the stack at 0x10 and no boot image, the merged image begins
    // with the stack header: the first write that fails is a header's.
    MergeRun header_first;
    header_first.layout.M = 0x10;
    header_first.inputs["boot.bin"] = "";
    row("merged_header_write_full_device", header_first.inputs, {full_device("app_merge.bin")},
        {}, header_first.headers_filled() + "write merge msg err\r\n" + removal,
        {"app_merge.bin@"}, header_first);
}

// ---- -oad of velk-single: app.bin of 100 bytes ----

// Written in this order: the working copy appbim_crc.bin (100 bytes), the
// CRC image appbim_crc_crc.bin (136) and its twin appbim_crc.out (544), the
// image's padding to 256 bytes, and the output app_crc.bin (256). The copy
// is written first, so a limit reaches the image only past its first 100
// bytes, and the twin stops any limit below 544 before the padding: with
// the twin sent to /dev/null (no size limit on a device) the limit reaches
// the padding. The output is no longer than the padded image before it, so
// only /dev/full reaches its writes.
struct SingleRun {
    Files inputs = {{"app.bin", noise(100, 76)}};
    std::vector<std::string> args() const { return {"-oad", "app.bin", "-v", "0x102"}; }
    std::string started() const {
        return oad_opening();
    }
    std::string copied() const {
        return started() + "cmd_bin_oad.stack_file_addr=1f00\r\nboot_bin_len=64\r\n";
    }
    // The flash CRC writer's own lines for the 136-byte image.
    std::string converted() const {
        return copied() + "        Encrypt Seccessfully!\r\n        File Size: 0x0088\r\n\r\n";
    }
};

void add_single_cases(std::vector<Case>& cases) {
    const SingleRun run;
    const Files& in = run.inputs;
    const std::string copy = "appbim_crc.bin";
    const std::string image = "appbim_crc_crc.bin";
    const std::string twin = "appbim_crc.out";
    const std::string output = "app_crc.bin";
    const auto add = [&](std::string name, Files inputs, std::vector<Change> setup,
                         std::optional<Cut> limit, std::string printed,
                         std::set<std::string> left) {
        cases.push_back({"single_" + name, {velk_single}, std::move(inputs), run.args(),
                         std::move(setup), limit, std::move(printed), std::move(left), banner});
    };

    // The working copy is created before the input is opened; the closing
    // exit keeps it, empty.
    add("input_missing", {}, {}, {}, run.started() + "app.bin file can not be opened\r\n" + closing,
        {copy});
    // Inputs whose length cannot be known: refused before the working copy.
    add("input_is_directory", {}, {dir("app.bin")}, {},
        run.started() + "app.bin is a directory\r\n" + closing, {"app.bin/"});
    const std::string unmeasured = "app.bin is not a regular file; its size cannot be known\r\n";
    add("input_is_fifo", {}, {fed_fifo("app.bin")}, {}, run.started() + unmeasured + closing,
        {"app.bin|"});
    add("input_is_endless_device", {}, {link("app.bin", "/dev/zero")}, {},
        run.started() + unmeasured + closing, {"app.bin@"});

    const std::string copy_failed = "write boot unsuccessfully in merge\r\n" + removal;
    const std::string copy_not_created = copy + " file can not be created\r\n";
    add("working_copy_in_missing_directory", in, {in_missing_dir(copy)}, {},
        run.started() + copy_not_created + closing, {copy + "@"});
    add("working_copy_is_directory", in, {dir(copy)}, {},
        run.started() + copy_not_created + closing, {copy + "/"});
    add("working_copy_full_device", in, {full_device(copy)}, {}, run.started() + copy_failed, {});
    add("working_copy_write_first_byte", in, {}, cut_at(0), run.started() + copy_failed, {});
    add("working_copy_write_middle", in, {}, cut_at(50), run.started() + copy_failed, {});
    add("working_copy_write_last_byte", in, {}, cut_at(99), run.started() + copy_failed, {});

    // The flash CRC writer fails: the flow stops at once, keeping the copy.
    const std::string image_failed = "Can't write file " + image + ".\n" + closing;
    add("crc_image_in_missing_directory", in, {in_missing_dir(image)}, {},
        run.copied() + "Can't open file " + image + ".\n" + closing, {copy, image + "@"});
    add("crc_image_is_directory", in, {dir(image)}, {},
        run.copied() + "Can't open file " + image + ".\n" + closing, {copy, image + "/"});
    add("crc_image_full_device", in, {full_device(image)}, {}, run.copied() + image_failed,
        {copy, image + "@", twin});
    add("crc_image_write_past_the_copy_length", in, {}, cut_at(100), run.copied() + image_failed,
        {copy, image, twin});
    add("crc_image_write_last_byte", in, {}, cut_at(135), run.copied() + image_failed,
        {copy, image, twin});

    // The writer's image vanishes into /dev/null; copying it out finds nothing.
    add("crc_image_null_device", in, {link(image, "/dev/null")}, {},
        run.converted() + image + " file can not be read\r\n" + removal,
        {image + "@", twin, output});

    const std::string twin_failed = "Can't write file " + twin + ".\n" + closing;
    add("twin_in_missing_directory", in, {in_missing_dir(twin)}, {},
        run.copied() + "Can't open file " + twin + ".\n" + closing, {copy, image, twin + "@"});
    add("twin_is_directory", in, {dir(twin)}, {},
        run.copied() + "Can't open file " + twin + ".\n" + closing, {copy, image, twin + "/"});
    add("twin_full_device", in, {full_device(twin)}, {}, run.copied() + twin_failed,
        {copy, image, twin + "@"});
    add("twin_write_middle", in, {}, cut_at(272), run.copied() + twin_failed, {copy, image, twin});
    add("twin_write_last_byte", in, {}, cut_at(543), run.copied() + twin_failed,
        {copy, image, twin});

    const std::string pad_failed = "write merge flie 0xff unsuccessfully.\r\n" + closing;
    add("padding_write_first_byte", in, {link(twin, "/dev/null")}, cut_at(136),
        run.converted() + pad_failed, {copy, image, twin + "@"});
    add("padding_write_last_byte", in, {link(twin, "/dev/null")}, cut_at(255),
        run.converted() + pad_failed, {copy, image, twin + "@"});

    const std::string output_not_created = output + " file can not be created\r\n";
    add("output_in_missing_directory", in, {in_missing_dir(output)}, {},
        run.converted() + output_not_created + closing, {copy, image, twin, output + "@"});
    add("output_is_directory", in, {dir(output)}, {}, run.converted() + output_not_created + closing,
        {copy, image, twin, output + "/"});
    // The removal exit deletes the working copy only.
    add("output_full_device", in, {full_device(output)}, {},
        run.converted() + "write merge bin err\r\n" + removal, {image, twin, output + "@"});
}

std::vector<Case> all_cases() {
    std::vector<Case> cases;
    add_crc_cases(cases);
    add_export_cases(cases);
    add_merge_cases(cases);
    add_single_cases(cases);
    return cases;
}

std::uint64_t limit_of(const Cut& cut, const Files& good_run) {
    if (cut.where == Cut::at) return cut.bytes;
    const auto found = good_run.find(cut.file);
    if (found == good_run.end()) ADD_FAILURE() << "a good run writes no " << cut.file;
    const std::uint64_t size = found != good_run.end() ? found->second.size() : 0;
    switch (cut.where) {
        case Cut::first: return 0;
        case Cut::middle: return size / 2;
        default: return size - 1;
    }
}

constexpr std::uint64_t safety_limit = 1 << 20;

class Fault : public ::testing::TestWithParam<Case> {};

TEST_P(Fault, IsReportedAndLosesNoData) {
    const Case& c = GetParam();
    for (const std::string& program : c.programs) {
        SCOPED_TRACE(program);
        Sandbox box(c.inputs);
        std::vector<std::unique_ptr<Feeder>> feeders;
        for (const Change& s : c.setup) {
            if (s.kind == Change::directory) box.mkdir(s.name);
            if (s.kind == Change::link) box.symlink(s.target, s.name);
            if (s.kind == Change::fifo) {
                box.fifo(s.name);
                feeders.push_back(std::make_unique<Feeder>(box.path() + "/" + s.name, s.target));
            }
        }
        // Under a limit, the same command line run without faults shows
        // where the limit falls and what the outputs should begin with.
        // Without one, a limit far above every file here keeps a run that
        // fails to stop from filling the disk.
        std::optional<Outcome> good;
        Limits limits{.file_size = safety_limit};
        if (c.limit) {
            good = run_velk(program, c.args, c.inputs, Limits{.file_size = safety_limit});
            limits.file_size = limit_of(*c.limit, good->files);
        }
        const Outcome r = box.run(program, c.args, limits);

        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.printed);
        if (c.success != nullptr) {
            EXPECT_EQ(r.out.find(c.success), std::string::npos) << r.out;
        }
        std::set<std::string> left;
        for (const auto& [name, contents] : r.files) {
            if (c.inputs.count(name) == 0) left.insert(name);
        }
        EXPECT_EQ(left, c.left);
        for (const auto& [name, contents] : c.inputs) {
            const auto now = r.files.find(name);
            EXPECT_TRUE(now != r.files.end() && now->second == contents) << name << " changed";
        }
        if (!good) continue;
        // A write cut short leaves the start of the right output, no more.
        for (const auto& [name, contents] : r.files) {
            const auto right = good->files.find(name);
            if (c.inputs.count(name) != 0 || right == good->files.end()) continue;
            EXPECT_LE(contents.size(), *limits.file_size) << name;
            EXPECT_TRUE(right->second.starts_with(contents)) << name << " is not a prefix";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Fault, ::testing::ValuesIn(all_cases()),
                         [](const ::testing::TestParamInfo<Case>& row) { return row.param.name; });

}  // namespace
}  // namespace velk::test
