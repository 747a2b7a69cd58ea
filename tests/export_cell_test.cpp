#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "export/cell.hpp"
#include "harness.hpp"
#include "io/file.hpp"

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

std::string text_of(const cell_text& text, int size, std::uint32_t value) {
    std::uint8_t out[cell_text::max_length];
    std::uint8_t* end = out;
    switch (size) {
        case 1: end = text.write<1>(value, out); break;
        case 2: end = text.write<2>(value, out); break;
        default: end = text.write<4>(value, out); break;
    }
    return std::string(reinterpret_cast<const char*>(out), static_cast<std::size_t>(end - out));
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
    };
    for (const auto& c : cases) {
        const cell_text text(c.prefix, c.separator);
        EXPECT_EQ(text_of(text, c.size, c.value), c.text);
    }
}

}  // namespace
}  // namespace velk
