// Inputs that carry addresses, end to end. Firmware is built here by the
// Arm assembler and linker, and objcopy's images of it are the reference:
// its ELF file, Intel HEX and S-records must give every command exactly the
// bytes the command gives for objcopy's binary image; merge must place
// three such inputs where their addresses say; and every way such an input
// is refused ends with its exit status, one line naming the file and the
// place, and no file written.

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
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

// The first of `tools` that is not on the PATH; empty when all are.
std::string missing_tool(std::initializer_list<const char*> tools) {
    for (const char* tool : tools) {
        if (!shell(std::string("command -v ") + tool + " >/dev/null 2>&1")) return tool;
    }
    return {};
}

#define SKIP_WITHOUT(...)                                                     \
    do {                                                                      \
        const std::string missing = missing_tool({__VA_ARGS__});              \
        if (!missing.empty()) GTEST_SKIP() << missing << " is not installed"; \
    } while (false)

#define SKIP_WITHOUT_BINUTILS() SKIP_WITHOUT("arm-none-eabi-as", "arm-none-eabi-ld", "arm-none-eabi-objcopy")

// A program for the Arm tool chain: its assembly, its linker script, and
// raw files the assembly takes in whole (.incbin), so that the data are
// not a pattern a misplaced byte could repeat by chance.
struct Program {
    std::string name;
    std::string source;
    std::string script;
    Files raw;
    std::string link_options;
};

// name.elf linked from `p`, and objcopy's name.bin (gaps 0xFF), name.hex
// and name.srec of it; nothing when a step fails (the test fails too).
Files build(const Program& p) {
    Files given = p.raw;
    given[p.name + ".s"] = p.source;
    given[p.name + ".ld"] = p.script;
    const Sandbox box(given);
    const std::string n = p.name;
    const std::string command =
        "cd '" + box.path() + "' && arm-none-eabi-as -o " + n + ".o " + n + ".s 2>&1 && arm-none-eabi-ld " +
        p.link_options + " -T " + n + ".ld -o " + n + ".elf " + n + ".o 2>&1 && arm-none-eabi-objcopy -O binary " +
        "--gap-fill 0xFF " + n + ".elf " + n + ".bin && arm-none-eabi-objcopy -O ihex " + n + ".elf " + n +
        ".hex && arm-none-eabi-objcopy -O srec " + n + ".elf " + n + ".srec";
    if (!shell(command)) {
        ADD_FAILURE() << "cannot build " << n << ": " << command;
        return {};
    }
    Files made;
    for (const char* ext : {".elf", ".bin", ".hex", ".srec"}) made[n + ext] = box.read(n + ext);
    return made;
}

// What a firmware's link has: a vector table and code in flash, constants
// across a 64 KiB boundary (the HEX output needs an extended address record
// in the middle of them), a section after a gap in flash, initialised data
// run from RAM but loaded in flash, zeroed and never-initialised data in
// RAM only.
constexpr const char* firmware_source = R"(
  .syntax unified
  .thumb
  .section .vectors,"a",%progbits
  .word 0x20004000, reset
  .section .text,"ax",%progbits
  .global reset
  .type reset, %function
reset:
  ldr r0, =constants
  ldr r1, =counter
  b reset
  .balign 4
  .ltorg
  .section .rodata,"a",%progbits
constants:
  .incbin "constants.raw"
  .section .cfg,"a",%progbits
  .word 0xCAFEF00D
  .byte 1, 2, 3
  .section .data,"aw",%progbits
counter:
  .word 0x0A0B0C0D
  .ascii "initialised"
  .section .bss,"aw",%nobits
  .space 64
  .section .noinit,"aw",%nobits
  .space 32
)";

// `data_placement` says where .data is loaded.
std::string firmware_script(const std::string& data_placement) {
    return R"(
MEMORY {
  FLASH (rx) : ORIGIN = 0x08000000, LENGTH = 256K
  RAM (rwx) : ORIGIN = 0x20000000, LENGTH = 16K
}
ENTRY(reset)
SECTIONS {
  .text : { KEEP(*(.vectors)) *(.text*) } > FLASH
  .rodata : { *(.rodata*) } > FLASH
  .cfg 0x08011000 : { KEEP(*(.cfg)) } > FLASH
  .data : { *(.data*) } )" +
           data_placement + R"(
  .bss (NOLOAD) : { *(.bss*) } > RAM
  .noinit (NOLOAD) : { *(.noinit*) } > RAM
}
)";
}

Program firmware(const std::string& name = "fw") {
    return {name, firmware_source, firmware_script("> RAM AT> FLASH"), {{"constants.raw", noise(0x10400, 7)}}, ""};
}

// The same firmware with its data loaded where they run, in RAM 384 MiB
// above flash.
Program firmware_loaded_in_ram() {
    return {"far", firmware_source, firmware_script("> RAM"), {{"constants.raw", noise(0x10400, 7)}}, ""};
}

// A program of nothing but data: one section .sN per entry, at its address.
Program sections(const std::string& name, const std::vector<std::pair<std::uint32_t, Bytes>>& at,
                 const std::string& link_options = "") {
    Program p{name, "", "SECTIONS {\n", {}, link_options};
    for (std::size_t i = 0; i < at.size(); ++i) {
        const std::string s = ".s" + std::to_string(i);
        const std::string raw = name + "_" + std::to_string(i) + ".raw";
        p.source += "  .section " + s + ",\"a\",%progbits\n  .incbin \"" + raw + "\"\n";
        p.script += format("  %s 0x%08X : { KEEP(*(%s)) }\n", s.c_str(), at[i].first, s.c_str());
        p.raw[raw] = at[i].second;
    }
    p.script += "}\n";
    return p;
}

Files only(const Files& files, std::initializer_list<const char*> names) {
    Files picked;
    for (const char* n : names) picked[n] = files.at(n);
    return picked;
}

// The files a run left besides its inputs.
Files written(const Outcome& o, const Files& inputs) {
    Files out = o.files;
    for (const auto& [name, bytes] : inputs) out.erase(name);
    return out;
}

// Args with every "@" replaced by `name`.
Args with_input(Args args, const std::string& name) {
    for (std::string& a : args) {
        if (a == "@") a = name;
    }
    return args;
}

// ---- Each encoding gives the bytes of objcopy's binary image ----

TEST(Inputs, EachEncodingGivesTheBinaryImagesBytes) {
    SKIP_WITHOUT_BINUTILS();
    const Files fw = build(firmware());
    ASSERT_FALSE(fw.empty());
    // objcopy's image starts at the lowest load address and runs to the
    // end of .data's load image, in flash: nowhere near RAM.
    ASSERT_GT(fw.at("fw.bin").size(), 0x11000u);
    ASSERT_LT(fw.at("fw.bin").size(), 0x12000u);
    const Args commands[] = {
        {"crc", "@", "-o", "out.bin"},
        {"crc", "@", "-o", "out.hex", "--format", "hex", "--base", "0x08000000"},
        {"single", "@", "-o", "out.bin", "--keys", "12345678,9ABCDEF0,0F1E2D3C,01000000"},
        {"txt", "@", "-o", "out.txt", "--bits", "32", "--comma", "--prefix"},
        {"c", "@", "-o", "out.c", "--bits", "16", "--name", "firmware", "--const"},
    };
    for (const Args& command : commands) {
        const Files bin_input = only(fw, {"fw.bin"});
        const Outcome reference = run_velk(velk, with_input(command, "fw.bin"), bin_input);
        ASSERT_EQ(reference.status, ok) << command[0] << reference.err;
        ASSERT_FALSE(written(reference, bin_input).empty());
        for (const char* input : {"fw.elf", "fw.hex", "fw.srec"}) {
            const Files in = {{input, fw.at(input)}};
            const Outcome o = run_velk(velk, with_input(command, input), in);
            EXPECT_EQ(o.status, ok) << command[0] << ' ' << input << ": " << o.err;
            EXPECT_EQ(o.err, "") << command[0] << ' ' << input;
            Files expected = written(reference, bin_input);
            std::string expected_out = reference.out;
            // velk's C file names its input in its first line.
            if (command[0] == "c") {
                expected["out.c"].replace(expected["out.c"].find("fw.bin"), 6, input);
                expected_out = "out.c: " + std::to_string(expected["out.c"].size()) + " bytes\n";
            }
            EXPECT_EQ(o.out, expected_out) << command[0] << ' ' << input;
            EXPECT_TRUE(written(o, in) == expected) << command[0] << ' ' << input;
        }
    }
}

// The content decides, never the name; --input-format insists on an
// encoding: the right one reads the file as detection would, and a file
// read as bin is taken byte for byte.
TEST(Inputs, InputFormatInsistsOnAnEncoding) {
    SKIP_WITHOUT_BINUTILS();
    const Files fw = build(firmware());
    ASSERT_FALSE(fw.empty());
    const Files bin_input = only(fw, {"fw.bin"});
    const Outcome reference = run_velk(velk, {"crc", "fw.bin", "-o", "out.bin"}, bin_input);
    ASSERT_EQ(reference.status, ok) << reference.err;
    for (const auto& [input, encoding] : {std::pair{"fw.elf", "elf"}, std::pair{"fw.hex", "hex"},
                                          std::pair{"fw.srec", "srec"}, std::pair{"fw.bin", "bin"}}) {
        const Files in = {{input, fw.at(input)}};
        const Outcome o = run_velk(velk, {"crc", input, "-o", "out.bin", "--input-format", encoding}, in);
        EXPECT_EQ(o.status, ok) << input << ": " << o.err;
        EXPECT_TRUE(o.files.at("out.bin") == reference.files.at("out.bin")) << input;
    }
    // An ELF file by any other name.
    const Outcome renamed = run_velk(velk, {"crc", "x.bin", "-o", "out.bin"}, {{"x.bin", fw.at("fw.elf")}});
    ASSERT_EQ(renamed.status, ok) << renamed.err;
    EXPECT_TRUE(renamed.files.at("out.bin") == reference.files.at("out.bin"));
    // The ELF file's own bytes, as raw data.
    const Outcome raw = run_velk(velk, {"crc", "fw.elf", "-o", "out.bin", "--input-format", "bin"}, only(fw, {"fw.elf"}));
    ASSERT_EQ(raw.status, ok) << raw.err;
    EXPECT_TRUE(raw.files.at("out.bin") == ref_flash_crc_image(fw.at("fw.elf")));
}

// --origin below the data fills the difference with 0xFF; --crop keeps a
// window of the addresses. Both checked against objcopy's binary image.
TEST(Inputs, OriginAndCropAgainstTheBinaryImage) {
    SKIP_WITHOUT_BINUTILS();
    const Files fw = build(firmware());
    ASSERT_FALSE(fw.empty());
    const Bytes& bin = fw.at("fw.bin");
    const struct {
        Args options;
        Bytes image;
    } cases[] = {
        {{"--origin", "0x07FFFF00"}, Bytes(0x100, '\xFF') + bin},
        {{"--crop", "0x08000100,0x08010100"}, bin.substr(0x100, 0x10000)},
        // A window that starts in the gap before .cfg starts at .cfg.
        {{"--crop", "0x08010F00,0x08011004"}, bin.substr(0x11000, 4)},
        {{"--crop", "0x08010F00,0x08011004", "--origin", "0x08010F00"},
         Bytes(0x100, '\xFF') + bin.substr(0x11000, 4)},
    };
    for (const auto& c : cases) {
        for (const char* input : {"fw.elf", "fw.hex", "fw.srec"}) {
            Args args = {"txt", input, "-o", "out.txt"};
            args.insert(args.end(), c.options.begin(), c.options.end());
            const Outcome o = run_velk(velk, args, {{input, fw.at(input)}});
            const Outcome expected = run_velk(velk, {"txt", "x.bin", "-o", "out.txt"}, {{"x.bin", c.image}});
            ASSERT_EQ(o.status, ok) << c.options[1] << ' ' << input << ": " << o.err;
            EXPECT_TRUE(o.files.at("out.txt") == expected.files.at("out.txt")) << c.options[1] << ' ' << input;
        }
    }
}

// ---- merge places its inputs by their addresses ----

// Boot, stack and app linked where the layout puts them, the stack and
// the app off the default offsets, the app in two sections with a gap.
struct MergeParts {
    Files boot, stack, app;
};

MergeParts merge_parts() {
    return {build(sections("boot", {{0x08000000, noise(3000, 1)}})),
            build(sections("stack", {{0x08002000, noise(9000, 2)}})),
            build(sections("app", {{0x08026000, noise(4000, 3)}, {0x08027000, noise(1000, 4)}}))};
}

TEST(Inputs, MergePlacesInputsByTheirAddresses) {
    SKIP_WITHOUT_BINUTILS();
    const MergeParts p = merge_parts();
    ASSERT_FALSE(p.boot.empty() || p.stack.empty() || p.app.empty());
    const auto files = [&](const char* ext) {
        const std::string e = ext;
        return Files{{"boot" + e, p.boot.at("boot" + e)},
                     {"stack" + e, p.stack.at("stack" + e)},
                     {"app" + e, p.app.at("app" + e)}};
    };
    const auto merge = [](const char* ext, const Args& more) {
        const std::string e = ext;
        Args args = {"merge", "boot" + e, "stack" + e, "app" + e, "-o", "out", "--image-version", "0x0102"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    const Files bins = files(".bin");
    const Outcome reference = run_velk(velk, merge(".bin", {"--stack-at", "0x2000", "--app-at", "0x26000"}), bins);
    ASSERT_EQ(reference.status, ok) << reference.err;
    const Files expected = written(reference, bins);
    ASSERT_EQ(expected.size(), 3u);
    const struct {
        const char* label;
        Files inputs;
        Args args;
    } cases[] = {
        {"elf", files(".elf"), merge(".elf", {})},
        {"hex", files(".hex"), merge(".hex", {})},
        {"srec", files(".srec"), merge(".srec", {})},
        // Options that agree with the addresses change nothing.
        {"elf agreeing", files(".elf"),
         merge(".elf", {"--stack-at", "0x2000", "--app-at", "0x26000", "--origin", "0x08000000"})},
        // Raw inputs mix with addressed ones: the raw stack goes where its
        // option says.
        {"mixed", {{"boot.hex", p.boot.at("boot.hex")}, {"stack.bin", p.stack.at("stack.bin")},
                   {"app.elf", p.app.at("app.elf")}},
         {"merge", "boot.hex", "stack.bin", "app.elf", "-o", "out", "--image-version", "0x0102", "--stack-at",
          "0x2000"}},
    };
    for (const auto& c : cases) {
        const Outcome o = run_velk(velk, c.args, c.inputs);
        EXPECT_EQ(o.status, ok) << c.label << ": " << o.err;
        EXPECT_EQ(o.out, reference.out) << c.label;
        EXPECT_TRUE(written(o, c.inputs) == expected) << c.label;
    }
}

// ---- Refusals ----

// The text with line `n` (from 1) passed through `change`.
Bytes change_line(const Bytes& text, std::size_t n, std::string (*change)(std::string)) {
    std::size_t at = 0;
    for (std::size_t i = 1; i < n; ++i) at = text.find('\n', at) + 1;
    std::size_t end = text.find('\n', at);
    if (end > at && text[end - 1] == '\r') --end;
    return text.substr(0, at) + change(text.substr(at, end - at)) + text.substr(end);
}

// A hexadecimal digit that is no digit.
std::string broken_digit(std::string line) {
    line[9] = 'G';
    return line;
}

// The last byte, the checksum, one off.
std::string checksum_off_by_one(std::string line) {
    const unsigned sum = static_cast<unsigned>(std::stoul(line.substr(line.size() - 2), nullptr, 16));
    return line.substr(0, line.size() - 2) + format("%02X", (sum + 1) & 0xFFu);
}

// An S5 record counting `count` data records, before the last line.
Bytes with_count_record(const Bytes& srec, unsigned count) {
    const unsigned sum = 0x03 + (count >> 8) + (count & 0xFF);
    const std::size_t last = srec.rfind('S');
    return srec.substr(0, last) + format("S503%04X%02X\n", count, ~sum & 0xFFu) + srec.substr(last);
}

// The number of S1, S2 and S3 records.
unsigned data_records(const Bytes& srec) {
    unsigned n = 0;
    for (std::size_t at = 0; at < srec.size(); at = srec.find('\n', at) + 1) {
        n += srec.compare(at, 2, "S1") == 0 || srec.compare(at, 2, "S2") == 0 || srec.compare(at, 2, "S3") == 0;
        if (srec.find('\n', at) == std::string::npos) break;
    }
    return n;
}

struct Refusal {
    std::string label;
    Files inputs;
    Args args;
    int status = bad_input;
    std::vector<std::string> mentions;  // in the one line on standard error
};

void expect_refused(const Refusal& r) {
    const Outcome o = run_velk(velk, r.args, r.inputs);
    EXPECT_EQ(o.status, r.status) << r.label << ": " << o.err;
    EXPECT_EQ(o.err.rfind("velk: ", 0), 0u) << r.label << ": " << o.err;
    EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << r.label << ": " << o.err;
    for (const std::string& m : r.mentions) EXPECT_NE(o.err.find(m), std::string::npos) << r.label << ": " << o.err;
    EXPECT_EQ(o.out, "") << r.label;
    EXPECT_TRUE(o.files == r.inputs) << r.label << ": a file was written";
}

TEST(Inputs, RefusesWhatCannotBeLaidOut) {
    SKIP_WITHOUT_BINUTILS();
    const Files fw = build(firmware());
    const Files far = build(firmware_loaded_in_ram());
    // Two sections at one address with different bytes; the linker is
    // told not to mind.
    const Files overlap = build(sections(
        "overlap", {{0x08000000, noise(64, 5)}, {0x08000020, noise(64, 6)}}, "--no-check-sections"));
    const MergeParts p = merge_parts();
    ASSERT_FALSE(fw.empty() || far.empty() || overlap.empty() || p.boot.empty() || p.stack.empty() ||
                 p.app.empty());
    const Files parts = {{"boot.elf", p.boot.at("boot.elf")},
                         {"stack.elf", p.stack.at("stack.elf")},
                         {"app.elf", p.app.at("app.elf")}};
    const Bytes& hex = fw.at("fw.hex");
    const Bytes& srec = fw.at("fw.srec");
    const std::vector<Refusal> cases = {
        {"malformed HEX record", {{"fw.hex", change_line(hex, 5, broken_digit)}}, {"crc", "fw.hex"}, bad_input,
         {"fw.hex", "line 5"}},
        {"HEX checksum", {{"fw.hex", change_line(hex, 7, checksum_off_by_one)}}, {"single", "fw.hex"}, bad_input,
         {"fw.hex", "line 7", "checksum"}},
        {"S-record checksum", {{"fw.srec", change_line(srec, 4, checksum_off_by_one)}}, {"txt", "fw.srec"},
         bad_input, {"fw.srec", "line 4", "checksum"}},
        {"S5 count", {{"fw.srec", with_count_record(srec, data_records(srec) + 1)}}, {"c", "fw.srec"}, bad_input,
         {"fw.srec", format("line %u", data_records(srec) + 2)}},
        {"ELF overlap", {{"overlap.elf", overlap.at("overlap.elf")}}, {"crc", "overlap.elf"}, bad_input,
         {"overlap.elf", "0x08000020", ".s0", ".s1"}},
        {"data below --origin", {{"fw.elf", fw.at("fw.elf")}}, {"crc", "fw.elf", "--origin", "0x08000100"},
         bad_input, {"fw.elf", "0x08000000", "0x08000100"}},
        {"larger than --max-size", {{"far.elf", far.at("far.elf")}}, {"crc", "far.elf"}, bad_input,
         {"far.elf", ".data", "0x2000000F", "--max-size"}},
        {"larger than a small --max-size", {{"fw.hex", hex}}, {"txt", "fw.hex", "--max-size", "64K"}, bad_input,
         {"fw.hex", "65536"}},
        {"address against --app-at", parts,
         {"merge", "boot.elf", "stack.elf", "app.elf", "--image-version", "1", "--app-at", "0x25A80"}, bad_input,
         {"app.elf", "0x8026000", "--app-at", "0x25A80"}},
        {"merge below --origin", parts,
         {"merge", "boot.elf", "stack.elf", "app.elf", "--image-version", "1", "--origin", "0x08000800"},
         bad_input, {"boot.elf", "0x08000000", "0x08000800"}},
        {"--origin with raw bytes", {{"fw.bin", fw.at("fw.bin")}}, {"crc", "fw.bin", "--origin", "0x08000000"},
         usage, {"--origin", "fw.bin"}},
        {"--origin with a raw merge",
         {{"boot.bin", p.boot.at("boot.bin")}, {"stack.bin", p.stack.at("stack.bin")},
          {"app.bin", p.app.at("app.bin")}},
         {"merge", "boot.bin", "stack.bin", "app.bin", "--image-version", "1", "--origin", "0x08000000"}, usage,
         {"--origin"}},
        {"--base with a binary image", {{"fw.elf", fw.at("fw.elf")}}, {"crc", "fw.elf", "--base", "0x08000000"},
         usage, {"--base"}},
    };
    for (const Refusal& r : cases) expect_refused(r);
}

// ---- S-records read back by an independent tool ----

TEST(Inputs, SrecCatReadsBackTheImageOfAnElfInput) {
    SKIP_WITHOUT_BINUTILS();
    SKIP_WITHOUT("srec_cat");
    const Files fw = build(firmware());
    ASSERT_FALSE(fw.empty());
    Sandbox box(only(fw, {"fw.elf", "fw.srec"}));
    const Outcome srec = box.run(velk, {"crc", "fw.elf", "--format", "srec", "--base", "0x08000000", "--no-twin"});
    ASSERT_EQ(srec.status, ok) << srec.err;
    const Outcome bin = box.run(velk, {"crc", "fw.elf", "--no-twin"});
    ASSERT_EQ(bin.status, ok) << bin.err;
    const Bytes binary = box.read("fw_crc.bin");
    const std::string command =
        format("cd '%s' && srec_cat fw_crc.srec -motorola -offset -0x08000000 -fill 0xFF 0 %zu -o back.bin -binary",
               box.path().c_str(), binary.size());
    ASSERT_TRUE(shell(command)) << command;
    EXPECT_TRUE(box.read("back.bin") == binary);
    // The termination record carries the ELF file's entry point, as
    // objcopy's own S-records of it do.
    const Bytes ours = box.read("fw_crc.srec");
    const Bytes& theirs = fw.at("fw.srec");
    const auto last_line = [](const Bytes& text) {
        const std::size_t from = text.rfind('S');
        return text.substr(from, text.find_first_of("\r\n", from) - from);
    };
    EXPECT_EQ(last_line(ours), last_line(theirs));
}

}  // namespace
}  // namespace velk::test
