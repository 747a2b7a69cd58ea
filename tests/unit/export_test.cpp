#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/export/cell.hpp"
#include "formats/export/export.hpp"
#include "formats/export/wide_cells.hpp"
#include "harness.hpp"
#include "io/access.hpp"
#include "io/file.hpp"
#include "support.hpp"

namespace velk {
namespace {

using test::Files;
using test::Sandbox;

// (bytes read, value) of every read_cell call until one comes back short.
using Reads = std::vector<std::pair<int, std::uint32_t>>;

template <class Source>
Reads read_all(Source& in, int size) {
    Reads reads;
    for (;;) {
        std::uint32_t value = 0xDEADBEEF;  // must be overwritten on every call
        const int n = read_cell(in, size, value);
        reads.emplace_back(n, value);
        if (n < size) return reads;
    }
}

TEST(ReadCell, LittleEndianCellsWithAZeroFilledPartialLastCell) {
    const struct {
        std::string bytes;
        int size;
        Reads reads;
    } cases[] = {
        {"", 1, {{0, 0}}},
        {"", 4, {{0, 0}}},
        {"\x01\x02\x03", 1, {{1, 0x01}, {1, 0x02}, {1, 0x03}, {0, 0}}},
        {"\x01\x02\x03", 2, {{2, 0x0201}, {1, 0x03}}},
        {"\x01\x02\x03\x04", 2, {{2, 0x0201}, {2, 0x0403}, {0, 0}}},
        {"\x11\x22\x33\x44\x55", 4, {{4, 0x44332211}, {1, 0x55}}},
        {"\xFF\xFF\xFF\xFF\x80\x81\x82", 4, {{4, 0xFFFFFFFF}, {3, 0x828180}}},
    };
    for (const auto& c : cases) {
        Sandbox box(Files{{"in.bin", c.bytes}});
        File file = File::open(box.path() + "/in.bin", File::Mode::read);
        ASSERT_TRUE(file);
        BlockReader reader(file, 2);  // a tiny block so cells straddle refills
        EXPECT_EQ(read_all(reader, c.size), c.reads) << c.bytes.size() << " bytes, size " << c.size;
        EXPECT_FALSE(reader.error());

        const auto* data = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
        byte_cursor cursor(std::span(data, c.bytes.size()));
        EXPECT_EQ(read_all(cursor, c.size), c.reads);
    }
}

TEST(ReadCell, AReadErrorEndsInputWithTheValueStoredAndTheErrorKept) {
    Sandbox box;
    box.mkdir("dir.bin");
    File file = File::open(box.path() + "/dir.bin", File::Mode::read);
    if (!file) GTEST_SKIP() << "this system does not open directories as files";
    BlockReader reader(file);
    EXPECT_EQ(read_all(reader, 4), (Reads{{0, 0}}));
    EXPECT_TRUE(reader.error());
}

template <int Size>
std::string spelt(bool prefix, const char* separator, std::uint32_t value) {
    const cell_text<Size> text(prefix, separator);
    // Guard bytes after the room a write may store into: they must stay.
    std::array<std::uint8_t, cell_text<Size>::store_length + 4> out;
    out.fill('#');
    const std::uint8_t* end = text.write(value, out.data());
    EXPECT_TRUE(std::all_of(out.end() - 4, out.end(), [](std::uint8_t b) { return b == '#'; }));
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(end - out.data()));
}

std::string text_of(bool prefix, const char* separator, int size, std::uint32_t value) {
    switch (size) {
        case 1: return spelt<1>(prefix, separator, value);
        case 2: return spelt<2>(prefix, separator, value);
        default: return spelt<4>(prefix, separator, value);
    }
}

TEST(CellText, UpperCaseDigitsAtFullWidthWithPrefixAndSeparator) {
    const struct {
        bool prefix;
        const char* separator;
        int size;
        std::uint32_t value;
        const char* text;
    } cases[] = {
        {false, " ", 1, 0x0A, "0A "},
        {false, ",", 1, 0xFF, "FF,"},
        {true, " ", 1, 0x00, "0x00 "},
        {true, ", ", 1, 0xAB, "0xAB, "},
        {false, " ", 2, 0x0003, "0003 "},
        {true, "", 2, 0xBEEF, "0xBEEF"},
        {false, ",", 4, 0x00000055, "00000055,"},
        {true, ", ", 4, 0xFFFFFFFF, "0xFFFFFFFF, "},
        {true, "", 4, 0x80000000, "0x80000000"},
        // Every byte different, so a byte spelt in another's place shows;
        // with "0x" the last digits fall in the second stored word.
        {false, " ", 4, 0x12345678, "12345678 "},
        {true, ",", 4, 0x9ABCDEF0, "0x9ABCDEF0,"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text_of(c.prefix, c.separator, c.size, c.value), c.text);
    }
}

// ---- The formats through their driver ----

struct Exported {
    result<std::uint64_t> written;
    test::Bytes text;
};

// The export of `input`, in memory.
Exported run_export(const export_format& format, const export_settings& settings,
                    const test::Bytes& input) {
    memory_source in(std::span(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()));
    memory_sink out;
    const result<std::uint64_t> r = write_export(format, settings, {"out.c", input.size()}, in, out);
    return {r, test::Bytes(out.bytes().begin(), out.bytes().end())};
}

// What no command line of velk-merge or velk-single reaches: the array's
// name, const and the <stdint.h> types.
TEST(CArrayFormat, DeclarationFollowsTheSettings) {
    const struct {
        int bits;
        const char* name;
        bool constant, fixed;
        std::string declaration, body;
    } cases[] = {
        {8, "bin2array", false, false, "unsigned char bin2array[3] = ", "0x01, 0x02, 0x03"},
        {8, "image", true, false, "const unsigned char image[3] = ", "0x01, 0x02, 0x03"},
        {8, "b", false, true, "uint8_t b[3] = ", "0x01, 0x02, 0x03"},
        {16, "fw", true, true, "const uint16_t fw[2] =     //binary file size:3 Bytes",
         "0x0201, 0x0003"},
        {32, "bin2array", false, true, "uint32_t bin2array[1] =     //binary file size:3 Bytes",
         "0x00030201"},
    };
    for (const auto& c : cases) {
        export_settings s;
        s.cell_bits = c.bits;
        s.array_name = c.name;
        s.constant = c.constant;
        s.fixed_width_types = c.fixed;
        const Exported e = run_export(c_array_format(), s, "\x01\x02\x03");
        EXPECT_TRUE(e.written);
        EXPECT_EQ(e.text, "\r\n//out.c, the following array is genearted by the tool: "
                          "velkmill.exe\r\n\r\n\r\n" +
                              std::string(c.fixed ? "#include <stdint.h>\r\n\r\n" : "") +
                              c.declaration + "\r\n{\r\n    " + c.body +
                              "\r\n};\r\n\r\n//eof\r\n\r\n")
            << c.declaration;
    }
}

TEST(CArrayFormat, ConstFixedWidthArraysCompileToTheInputBytes) {
    // A small C program includes the generated file and prints every
    // element; the system C compiler is the judge of the syntax.
    const std::string printer =
        "#include <stdio.h>\n"
        "#include \"out.c\"\n"
        "int main(void) {\n"
        "    unsigned long i;\n"
        "    for (i = 0; i < sizeof image / sizeof image[0]; ++i)\n"
        "        printf(\"%lx\\n\", (unsigned long)image[i]);\n"
        "    return 0;\n"
        "}\n";
    for (const int bits : {8, 16, 32}) {
        export_settings s;
        s.cell_bits = bits;
        s.array_name = "image";
        s.constant = true;
        s.fixed_width_types = true;
        s.per_line = 5;
        const test::Bytes input = test::noise(37, static_cast<std::uint32_t>(bits));
        const Exported e = run_export(c_array_format(), s, input);
        Sandbox box(Files{{"out.c", e.text}, {"main.c", printer}});
        const std::string dir = "'" + box.path() + "'";
        ASSERT_TRUE(test::shell("cc -std=c99 -Wall -Wextra -pedantic -Werror -o " + dir +
                                "/print " + dir + "/main.c 2>&1"))
            << bits << "-bit elements do not compile";
        const auto printed = test::shell(dir + "/print");
        ASSERT_TRUE(printed);
        std::istringstream lines(*printed);
        test::Bytes bytes;
        for (unsigned long value; lines >> std::hex >> value;) {
            for (int k = 0; k < bits / 8; ++k) bytes.push_back(static_cast<char>(value >> (8 * k)));
        }
        const auto width = static_cast<std::size_t>(bits / 8);
        test::Bytes expected = input;
        expected.resize((input.size() + width - 1) / width * width, '\0');
        EXPECT_EQ(bytes, expected) << bits;
    }
}

// velk's own file: the comment, the declarations (the header's or its
// own) before the definition, the same elements, no compatibility lines.
TEST(CSourceFormat, CommentDeclarationsThenTheDefinition) {
    export_settings s;
    s.cell_bits = 16;
    s.array_name = "fw";
    s.constant = true;
    s.fixed_width_types = true;
    s.length_symbol = true;
    const test::Bytes input = "\x01\x02\x03";
    const std::string comment = "/* Written by velk 9.9 from a\\x2Ab\\x0A.bin (3 bytes). */\r\n\r\n";
    const std::string declarations =
        "#include <stdint.h>\r\n\r\n"
        "#ifdef __cplusplus\r\nextern \"C\" {\r\n#endif\r\n\r\n"
        "extern const uint16_t fw[2];\r\n"
        "extern const uint32_t fw_len;\r\n"
        "\r\n#ifdef __cplusplus\r\n}\r\n#endif\r\n";
    const std::string definition =
        "\r\nconst uint16_t fw[2] =\r\n{\r\n    0x0201, 0x0003\r\n};\r\n"
        "\r\nconst uint32_t fw_len = 3;\r\n";
    for (const std::string_view header : {"", "fw.h"}) {
        const export_context context{"fw.c", input.size(), {"velk 9.9", "a*b\n.bin", header}};
        memory_source in(std::span(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()));
        memory_sink out;
        ASSERT_TRUE(write_export(c_source_format(), s, context, in, out));
        const test::Bytes text(out.bytes().begin(), out.bytes().end());
        const std::string declared = header.empty() ? declarations : "#include \"fw.h\"\r\n";
        EXPECT_EQ(text, comment + declared + definition) << header;
        if (!header.empty()) {
            EXPECT_EQ(c_header_text(s, context, "FW_H"),
                      comment + "#ifndef FW_H\r\n#define FW_H\r\n\r\n" + declarations + "\r\n#endif\r\n");
        }
    }
}

TEST(ExportDriver, ReportsAFailedReadAndAFailedWrite) {
    Sandbox box;
    box.mkdir("dir.bin");
    box.write("in.bin", "abc");
    for (const export_format* format : {&text_dump_format(), &c_array_format()}) {
        File dir = File::open(box.path() + "/dir.bin", File::Mode::read);
        File out = File::open(box.path() + "/out", File::Mode::create);
        if (dir) {
            const result<std::uint64_t> r = write_export(*format, {}, {"out", 0}, dir, out);
            ASSERT_FALSE(r);
            EXPECT_EQ(r.error().what, fault_kind::read);
            EXPECT_EQ(r.error().role, role::input);
            EXPECT_EQ(r.error().error, EISDIR);
        }
        if (!std::filesystem::exists("/dev/full")) continue;
        File in = File::open(box.path() + "/in.bin", File::Mode::read);
        File full = File::open("/dev/full", File::Mode::create);
        const result<std::uint64_t> r = write_export(*format, {}, {"full", 3}, in, full);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().what, fault_kind::write);
        EXPECT_EQ(r.error().role, role::output);
        EXPECT_EQ(r.error().error, ENOSPC);
    }
}

// ---- Sixteen input bytes at a time ----

// What wide_cells spells for `count` lines of `groups` groups each, against
// cell_text's spelling of the same cells one at a time and the line end.
template <int Size>
void expect_wide_as_narrow(bool prefix, const char* separator) {
    const wide_cells wide(Size, prefix, separator);
    if (!wide.usable()) GTEST_SKIP() << "this machine has no byte shuffle";
    const cell_text<Size> narrow(prefix, separator);
    const test::Bytes input = test::noise(16 * 6, 21);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(input.data());
    for (const std::size_t groups : {1u, 2u, 3u}) {
        const std::size_t lines = 6 / groups;
        std::vector<std::uint8_t> expected(2048), actual(2048, '#');
        std::uint8_t* at = expected.data();
        const std::uint8_t* from = bytes;
        for (std::size_t line = 0; line < lines; ++line) {
            for (std::size_t cell = 0; cell < groups * wide.cells_per_group(); ++cell, from += Size) {
                at = narrow.spell().cell(from, at);
            }
            at = put_text(at, "\r\n    ");
        }
        expected.resize(static_cast<std::size_t>(at - expected.data()));
        const std::uint8_t* end = wide.lines(bytes, lines, groups, "\r\n    ", actual.data());
        actual.resize(static_cast<std::size_t>(end - actual.data()));
        EXPECT_EQ(actual, expected) << Size << "-byte cells, prefix " << prefix << ", separator '"
                                    << separator << "', " << groups << " groups a line";
    }
}

TEST(WideCells, SpellWhatCellTextSpellsForEveryLayout) {
    for (const bool prefix : {false, true}) {
        for (const char* separator : {"", " ", ",", ", "}) {
            expect_wide_as_narrow<1>(prefix, separator);
            expect_wide_as_narrow<2>(prefix, separator);
            expect_wide_as_narrow<4>(prefix, separator);
        }
    }
}

}  // namespace
}  // namespace velk
