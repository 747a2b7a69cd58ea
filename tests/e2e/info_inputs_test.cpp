// velk info and verify on the files an image is built from (ELF, Intel
// HEX, S-records) rather than on the images velk writes: info says where
// their bytes go, verify refuses them as images and takes them as what an
// image must hold. The text records are written here from the formats'
// definitions, checksums and all; the ELF file comes from the Arm tool
// chain, with objcopy's flat image as the reference for its size. JSON is
// parsed by Debian's python3, not by the library that wrote it.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "harness.hpp"
#include "unit/elf_fixture.hpp"

namespace velk::test {
namespace {

namespace fs = std::filesystem;

// Evaluates the Python expression `expression` with `d` bound to the JSON
// document `text`, and returns what it prints (without the line end).
std::string python(const std::string& text, const std::string& expression) {
    std::string pattern = (fs::temp_directory_path() / "velk-json-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    const fs::path dir = pattern;
    std::ofstream(dir / "doc.json", std::ios::binary) << text;
    std::ofstream(dir / "probe.py") << "import json, sys\n"
                                       "d = json.load(open(sys.argv[1]))\n"
                                       "print(" << expression << ")\n";
    const std::string command =
        "/usr/bin/python3 " + (dir / "probe.py").string() + " " + (dir / "doc.json").string() + " 2>&1";
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[512];
        while (const std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        pclose(p);
    }
    fs::remove_all(dir);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::string hex_byte(unsigned b) { return format("%02X", b & 0xFF); }

// One Intel HEX record: byte count, 16-bit address, type, data, and the
// checksum that makes all of its bytes sum to 0 modulo 256.
std::string ihex(unsigned type, unsigned address, const Bytes& data) {
    std::vector<unsigned> bytes{static_cast<unsigned>(data.size()), address >> 8 & 0xFF, address & 0xFF, type};
    for (const char c : data) bytes.push_back(static_cast<unsigned char>(c));
    unsigned sum = 0;
    std::string line = ":";
    for (const unsigned b : bytes) {
        sum += b;
        line += hex_byte(b);
    }
    return line + hex_byte(0x100 - (sum & 0xFF)) + "\r\n";
}

// One S-record with a 32-bit address (S3, S7): the count of the bytes
// after it, the address, the data, and the ones' complement of their sum.
std::string srec(char type, std::uint32_t address, const Bytes& data) {
    std::vector<unsigned> bytes{static_cast<unsigned>(data.size() + 5), address >> 24, address >> 16 & 0xFF,
                                address >> 8 & 0xFF, address & 0xFF};
    for (const char c : data) bytes.push_back(static_cast<unsigned char>(c));
    unsigned sum = 0;
    std::string line = std::string("S") + type;
    for (const unsigned b : bytes) {
        sum += b;
        line += hex_byte(b);
    }
    return line + hex_byte(~sum) + "\n";
}

// 16 bytes at 0x1000, a gap of 16, 8 bytes at 0x1020; start 0x1001.
std::string two_segment_hex(const Bytes& first = counting(16, 0x40)) {
    return ihex(0x00, 0x1000, first) + ihex(0x00, 0x1020, counting(8, 0x80)) +
           ihex(0x05, 0, hex("00 00 10 01")) + ihex(0x01, 0, "");
}

// 12 bytes at 0x20000, 4 at 0x20100, after a header record; start 0x20004.
std::string two_segment_srec() {
    const std::string header = "S0030000FC\n";  // no name: count 3, address 0, checksum ~3
    return header + srec('3', 0x20000, counting(12, 1)) + srec('3', 0x20100, hex("DE AD BE EF")) +
           srec('7', 0x20004, "");
}

// --- info -------------------------------------------------------------------------

TEST(InfoInputs, TextOfHexAndSrecShowsSegmentsGapsAndStart) {
    const std::string hex_file = two_segment_hex();
    const std::string srec_file = two_segment_srec();
    const std::string input_line = "  input         not an image velk writes; crc, single and merge make one of it\n";
    const std::string title = "    address    end            length  what\n";
    struct Case {
        std::string name;
        std::string content;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"a.hex", hex_file,
         format("a.hex: Intel HEX input, %zu bytes (image 40 bytes from 0x00001000)\n", hex_file.size()) +
             input_line +
             "  segments      2, 24 data bytes\n"
             "  start         0x00001001\n"
             "  address map\n" +
             title +
             "    0x00001000 0x00001010         16  data from line 1\n"
             "    0x00001010 0x00001020         16  gap, 0xFF in the image\n"
             "    0x00001020 0x00001028          8  data from line 2\n"},
        {"a.srec", srec_file,
         format("a.srec: S-record input, %zu bytes (image 260 bytes from 0x00020000)\n", srec_file.size()) +
             input_line +
             "  segments      2, 16 data bytes\n"
             "  start         0x00020004\n"
             "  address map\n" +
             title +
             "    0x00020000 0x0002000C         12  data from line 2\n"
             "    0x0002000C 0x00020100        244  gap, 0xFF in the image\n"
             "    0x00020100 0x00020104          4  data from line 3\n"},
    };
    for (const Case& c : cases) {
        const Outcome r = run_velk(velk, {"info", c.name}, {{c.name, c.content}});
        EXPECT_EQ(r.status, 0) << c.name << r.err;
        EXPECT_EQ(r.err, "") << c.name;
        EXPECT_EQ(r.out, c.expected) << c.name;
    }
}

TEST(InfoInputs, OriginBelowTheDataAddsLeadingFill) {
    const Outcome r = run_velk(velk, {"info", "a.hex", "--origin", "0xF00"}, {{"a.hex", two_segment_hex()}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("(image 296 bytes from 0x00000F00)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("    0x00000F00 0x00001000        256  fill, 0xFF in the image\n"), std::string::npos)
        << r.out;

    const Outcome above = run_velk(velk, {"info", "a.hex", "--origin", "0x1001"}, {{"a.hex", two_segment_hex()}});
    EXPECT_EQ(above.status, 3);
    EXPECT_NE(above.err.find("a.hex: data at 0x00001000, below the image's start 0x00001001"), std::string::npos)
        << above.err;
}

TEST(InfoInputs, JsonCarriesEncodingSegmentsStartAndImageSize) {
    struct Case {
        std::string name;
        std::string content;
        std::string encoding;
        std::string segments;
        std::uint64_t start;
        std::uint64_t image_size;
    };
    const std::vector<Case> cases{
        {"a.hex", two_segment_hex(), "intel-hex", "[{'address': 4096, 'size': 16}, {'address': 4128, 'size': 8}]",
         0x1001, 40},
        {"a.srec", two_segment_srec(), "s-record",
         "[{'address': 131072, 'size': 12}, {'address': 131328, 'size': 4}]", 0x20004, 260},
    };
    for (const Case& c : cases) {
        const Outcome r = run_velk(velk, {"info", "--json", c.name}, {{c.name, c.content}});
        ASSERT_EQ(r.status, 0) << c.name << r.err;
        EXPECT_EQ(python(r.out, "d['velk_json'], d['command'], d['ok']"), "1 info True") << c.name;
        const std::string f = "d['files'][0]";
        EXPECT_EQ(python(r.out, f + "['kind'], " + f + "['encoding'], " + f + "['error'], " + f + "['ok']"),
                  "input " + c.encoding + " None True")
            << c.name;
        EXPECT_EQ(python(r.out, f + "['segments']"), c.segments) << c.name;
        EXPECT_EQ(python(r.out, f + "['start'], " + f + "['image_size'], " + f + "['size']"),
                  std::to_string(c.start) + " " + std::to_string(c.image_size) + " " +
                      std::to_string(c.content.size()))
            << c.name;
        EXPECT_EQ(python(r.out, "'tried' in " + f + ", " + f + "['problems']"), "False []") << c.name;
    }
}

TEST(InfoInputs, HexWithoutStartHasNoStartKey) {
    const std::string file = ihex(0x00, 0x0100, counting(4)) + ihex(0x00, 0x0200, counting(2)) + ihex(0x01, 0, "");
    const Outcome r = run_velk(velk, {"info", "--json", "a.hex"}, {{"a.hex", file}});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(python(r.out, "'start' in d['files'][0], d['files'][0]['image_size']"), "False 258");
}

// One stretch of records without a start record is how velk writes its
// own images, whose leading 0xFF bytes the records leave out: such a file
// stays unrecognised, with the bases tried, unless --base names one.
TEST(InfoInputs, OneStretchOfRecordsMayBeAnImageOffItsBase) {
    const std::string file = ihex(0x00, 0x0100, counting(4)) + ihex(0x01, 0, "");
    const Outcome r = run_velk(velk, {"info", "a.hex"}, {{"a.hex", file}});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("a.hex: not an image velk reads; tried "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--base ADDR"), std::string::npos) << r.err;
    const Outcome based = run_velk(velk, {"info", "a.hex", "--base", "0x100"}, {{"a.hex", file}});
    EXPECT_EQ(based.status, 0) << based.err;
    EXPECT_NE(based.out.find("a.hex: Intel HEX input"), std::string::npos) << based.out;
}

TEST(InfoInputs, OverlapsWithTheSameBytesAreShownAndDifferentBytesRefused) {
    const std::string same = ihex(0x00, 0x1000, counting(8)) + ihex(0x00, 0x1004, counting(8, 4)) + ihex(0x01, 0, "");
    const Outcome r = run_velk(velk, {"info", "a.hex"}, {{"a.hex", same}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("    0x00001000 0x00001008          8  data from line 1\n"
                         "    0x00001004 0x00001008          4  overlap, the same bytes in both\n"
                         "    0x00001004 0x0000100C          8  data from line 2\n"),
              std::string::npos)
        << r.out;

    // One byte differs where the records meet: a format error, exit 3, as
    // crc refuses the same file; info goes on to the next file.
    Bytes clash = counting(8, 4);
    clash[2] = '\x55';
    const std::string differs = ihex(0x00, 0x1000, counting(8)) + ihex(0x00, 0x1004, clash) + ihex(0x01, 0, "");
    const Outcome bad = run_velk(velk, {"info", "b.hex", "a.hex"}, {{"a.hex", same}, {"b.hex", differs}});
    EXPECT_EQ(bad.status, 3);
    EXPECT_NE(bad.err.find("b.hex: "), std::string::npos) << bad.err;
    EXPECT_NE(bad.err.find("0x00001006"), std::string::npos) << bad.err;
    EXPECT_NE(bad.out.find("a.hex: Intel HEX input"), std::string::npos) << bad.out;
    const Outcome build = run_velk(velk, {"crc", "b.hex"}, {{"b.hex", differs}});
    EXPECT_EQ(build.status, 3) << build.err;
}

TEST(InfoInputs, ElfFromTheArmToolChainShowsItsSections) {
    std::string missing;
    const std::optional<arm_program> p = build_arm_program(missing);
    if (!p) GTEST_SKIP() << (missing.empty() ? "the Arm tool chain failed" : missing + " is missing");
    const Bytes elf(p->elf.begin(), p->elf.end());
    const Outcome text = run_velk(velk, {"info", "p.elf"}, {{"p.elf", elf}});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out.rfind(format("p.elf: ELF input, %zu bytes (image %zu bytes from 0x08000000)\n",
                                    elf.size(), p->binary.size()),
                             0),
              0u)
        << text.out;
    EXPECT_NE(text.out.find(format("  start         0x%08llX\n", static_cast<unsigned long long>(p->entry))),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("    0x08030000 0x08030008          8  .cfg\n"), std::string::npos) << text.out;

    const Outcome j = run_velk(velk, {"info", "--json", "p.elf"}, {{"p.elf", elf}});
    ASSERT_EQ(j.status, 0) << j.err;
    const std::string f = "d['files'][0]";
    EXPECT_EQ(python(j.out, f + "['kind'], " + f + "['encoding'], " + f + "['start'], " + f + "['image_size']"),
              format("input elf %llu %zu", static_cast<unsigned long long>(p->entry), p->binary.size()));
    EXPECT_EQ(python(j.out, "[s['name'] for s in " + f + "['segments']]"), "['.text', '.rodata', '.cfg', '.data']");
    EXPECT_EQ(python(j.out, f + "['segments'][0]['address'], " + f + "['segments'][2]"),
              "134217728 {'address': 134414336, 'size': 8, 'name': '.cfg'}");
}

// --- verify -----------------------------------------------------------------------

TEST(VerifyInputs, AnInputIsNotAnImage) {
    struct Case {
        std::string name;
        std::string content;
        std::string words;
    };
    const std::vector<Case> cases{{"a.hex", two_segment_hex(), "an Intel HEX input"},
                                  {"a.srec", two_segment_srec(), "an S-record input"}};
    for (const Case& c : cases) {
        const Outcome r = run_velk(velk, {"verify", c.name}, {{c.name, c.content}});
        EXPECT_EQ(r.status, 3) << c.name;
        EXPECT_EQ(r.out, "") << c.name;
        EXPECT_EQ(r.err, "velk: " + c.name + ": " + c.words +
                             ", not an image velk writes; build one with velk crc, single or merge\n");
    }
}

TEST(VerifyInputs, AgainstHexAndSrecHoldsTheImageBuiltFromIt) {
    Sandbox box({{"a.hex", two_segment_hex()}, {"b.hex", two_segment_hex(counting(16, 0x41))},
                 {"a.srec", two_segment_srec()}});
    for (const std::string name : {"a.hex", "b.hex", "a.srec"}) {
        const Outcome built = box.run(velk, {"crc", name, "-o", name + ".crc"});
        ASSERT_EQ(built.status, 0) << name << built.err;
    }
    const Outcome held = box.run(velk, {"verify", "a.hex.crc", "--against", "a.hex"});
    EXPECT_EQ(held.status, 0) << held.err;
    EXPECT_NE(held.out.find("a.hex.crc: flash CRC image"), std::string::npos) << held.out;
    EXPECT_NE(held.out.find(": ok (holds a.hex"), std::string::npos) << held.out;
    EXPECT_EQ(box.run(velk, {"verify", "a.srec.crc", "--against", "a.srec"}).status, 0);

    // The first 16 bytes differ by one in every byte.
    const Outcome other = box.run(velk, {"verify", "b.hex.crc", "--against", "a.hex"});
    EXPECT_EQ(other.status, 1) << other.err;
    EXPECT_NE(other.out.find("a.hex: first difference at offset 0x0 (image 0x41, a.hex 0x40); 16 bytes differ"),
              std::string::npos)
        << other.out;
    EXPECT_EQ(box.run(velk, {"verify", "a.srec.crc", "--against", "a.hex"}).status, 1);
}

TEST(VerifyInputs, AgainstElfHoldsTheImageBuiltFromIt) {
    std::string missing;
    const std::optional<arm_program> p = build_arm_program(missing);
    if (!p) GTEST_SKIP() << (missing.empty() ? "the Arm tool chain failed" : missing + " is missing");
    Sandbox box({{"p.elf", Bytes(p->elf.begin(), p->elf.end())}, {"a.hex", two_segment_hex()}});
    ASSERT_EQ(box.run(velk, {"single", "p.elf", "-o", "p.crc"}).status, 0);
    ASSERT_EQ(box.run(velk, {"crc", "a.hex", "-o", "a.crc"}).status, 0);
    const Outcome held = box.run(velk, {"verify", "p.crc", "--against", "p.elf"});
    EXPECT_EQ(held.status, 0) << held.out << held.err;
    EXPECT_EQ(box.run(velk, {"verify", "a.crc", "--against", "p.elf"}).status, 1);
    // The raw bytes objcopy makes of the program are what the ELF file holds.
    box.write("p.bin", Bytes(p->binary.begin(), p->binary.end()));
    EXPECT_EQ(box.run(velk, {"verify", "p.crc", "--against", "p.bin"}).status, 0);
}

// The three inputs of a merge, each at its place in the merged image's
// address space (the default layout, from 0x08000000).
TEST(VerifyInputs, AgainstThreeHexInputsHoldsTheMergeBuiltFromThem) {
    const auto at = [](std::uint32_t address, const Bytes& data) {
        return ihex(0x04, 0, hex(format("%04X", address >> 16))) + ihex(0x00, address & 0xFFFF, data) +
               ihex(0x01, 0, "");
    };
    Sandbox box({{"boot.hex", at(0x08000000, counting(16, 3))},
                 {"stack.hex", at(0x08001F00, counting(16, 7))},
                 {"app.hex", at(0x08025A80, counting(16, 9))},
                 {"other.hex", at(0x08025A80, counting(16, 10))}});
    const Outcome built = box.run(velk, {"merge", "boot.hex", "stack.hex", "app.hex", "--image-version", "1"});
    ASSERT_EQ(built.status, 0) << built.err;
    const Outcome held = box.run(velk, {"verify", "app_merge.bin", "--against", "boot.hex,stack.hex,app.hex"});
    EXPECT_EQ(held.status, 0) << held.out << held.err;
    EXPECT_NE(held.out.find("holds boot.hex, stack.hex and app.hex"), std::string::npos) << held.out;
    EXPECT_EQ(box.run(velk, {"verify", "app_merge.bin", "--against", "boot.hex,stack.hex,other.hex"}).status, 1);
}

}  // namespace
}  // namespace velk::test
