// Intel HEX as an input. objcopy's HEX of a linked program must give the
// image objcopy makes of it in binary; records written here from the
// format's definition (the checksum makes the bytes sum to 0 modulo 256)
// cover addressing, order and line ends, and every malformed record must
// be refused with its line number.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "elf_fixture.hpp"
#include "formats/address_map/address_map.hpp"
#include "formats/intel_hex/input.hpp"
#include "io/access.hpp"

namespace velk {
namespace {

using test::Image;

std::span<const std::uint8_t> bytes_of(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// One record, its checksum computed from the definition.
std::string record(unsigned type, unsigned address, const Image& data) {
    std::vector<unsigned> fields{static_cast<unsigned>(data.size()), address >> 8, address & 0xFF, type};
    fields.insert(fields.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string text = ":";
    char digits[3];
    for (const unsigned f : fields) {
        sum += f;
        std::snprintf(digits, sizeof digits, "%02X", f & 0xFF);
        text += digits;
    }
    std::snprintf(digits, sizeof digits, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return text + digits + "\n";
}
const std::string end_record = ":00000001FF\n";

result<address_map> decode(const std::string& text, std::string& why) {
    const memory_source source(bytes_of(text));
    return read_intel_hex_input(source, why);
}

Image flat_image(address_map map, std::uint64_t origin) {
    sort_extents(map);
    std::string why;
    EXPECT_TRUE(check_overlaps(map, why)) << why;
    memory_sink out;
    EXPECT_TRUE(flatten(map, origin, std::uint64_t{1} << 30, out, why)) << why;
    return out.bytes();
}

TEST(IntelHexInput, ObjcopysHexGivesObjcopysBinary) {
    std::string missing;
    const auto program = test::build_arm_program(missing);
    if (!missing.empty()) GTEST_SKIP() << missing << " is not installed";
    ASSERT_TRUE(program);
    std::string why;
    const auto map = decode(program->ihex, why);
    ASSERT_TRUE(map) << why;
    EXPECT_EQ(lo(*map), program->base);
    EXPECT_EQ(map->start, program->entry);
    EXPECT_EQ(flat_image(*map, program->base), program->binary);
}

TEST(IntelHexInput, AddressingOrderAndLineEnds) {
    const struct {
        const char* name;
        std::string text;
        std::uint64_t origin;
        Image image;
        std::optional<std::uint64_t> start;
    } cases[] = {
        {"linear, out of order, a record past a 64 KiB offset",
         record(4, 0, {0x00, 0x01}) + record(0, 0xFFFE, {3, 4, 5, 6}) + record(4, 0, {0x00, 0x02}) +
             record(4, 0, {0x00, 0x01}) + record(0, 0xFFFA, {1}) + record(5, 0, {0x00, 0x01, 0xFF, 0xFF}) +
             end_record,
         0x1FFFA,
         {1, 0xFF, 0xFF, 0xFF, 3, 4, 5, 6},
         0x1FFFFu},
        {"segment, CR LF, blank lines, lower case",
         "\r\n" + record(2, 0, {0x12, 0x34}) + record(0, 0x10, {0xAB, 0xCD}) + "\n" +
             record(3, 0, {0x12, 0x34, 0x00, 0x05}) + ":00000001ff",
         0x12350,
         {0xAB, 0xCD},
         0x12345u},
        {"no data", end_record, 0, {}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.text;
        if (std::string(c.name).find("CR LF") != std::string::npos) {
            for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) {
                if (at == 0 || text[at - 1] != '\r') text.insert(at, "\r");
            }
            for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        }
        std::string why;
        const auto map = decode(text, why);
        ASSERT_TRUE(map) << why;
        EXPECT_EQ(map->start, c.start);
        EXPECT_EQ(flat_image(*map, c.origin), c.image);
    }
}

// Records in address order fill one chunk, however many there are.
TEST(IntelHexInput, AdjacentRecordsShareOneChunk) {
    std::string text = record(4, 0, {0x08, 0x00});
    Image expected;
    for (unsigned i = 0; i < 4096; ++i) {
        const Image data(16, static_cast<std::uint8_t>(i));
        expected.insert(expected.end(), data.begin(), data.end());
        text += record(0, (i * 16) & 0xFFFF, data);
    }
    text += end_record;
    std::string why;
    const auto map = decode(text, why);
    ASSERT_TRUE(map) << why;
    EXPECT_EQ(map->extents.size(), 1u);
    EXPECT_EQ(map->chunks.size(), 1u);
    EXPECT_EQ(flat_image(*map, 0x08000000), expected);
}

TEST(IntelHexInput, RefusesMalformedRecordsNamingTheLine) {
    const std::string good = record(0, 0, {1, 2});
    const struct {
        std::string text;
        std::string what;
    } cases[] = {
        {good + "01000000010FE\n" + end_record, "line 2: does not start with ':'"},
        {good + ":0100000001FG\n" + end_record, "line 2: column 13 is not a hex digit"},
        {good + ":0100000001F\n" + end_record, "line 2: an odd number of hex digits"},
        {good + good + ":00000001\n", "line 3: too short for a record"},
        {":0200000001FE\n" + end_record, "line 1: the byte count says 2 data bytes, the record holds 1"},
        {":0100000001FF\n" + end_record, "line 1: checksum 0xFF, should be 0xFE"},
        {record(6, 0, {}) + end_record, "line 1: unknown record type 0x06"},
        {record(4, 0, {1}) + end_record, "line 1: a type 0x04 record needs 2 data bytes, not 1"},
        {record(2, 0, {1, 2, 3}) + end_record, "line 1: a type 0x02 record needs 2 data bytes, not 3"},
        {record(5, 0, {1, 2}) + end_record, "line 1: a type 0x05 record needs 4 data bytes, not 2"},
        {record(3, 0, {1, 2, 3, 4, 5}) + end_record, "line 1: a type 0x03 record needs 4 data bytes"},
        {record(1, 0, {0}), "line 1: a type 0x01 record needs 0 data bytes, not 1"},
        {record(5, 0, {0, 0, 0, 1}) + record(5, 0, {0, 0, 0, 2}) + end_record,
         "line 2: a second start address, 0x00000002 after 0x00000001"},
        {good + end_record + good, "line 3: a record after the end-of-file record"},
        {good + "\n" + good, "no end-of-file record after line 3"},
        {":" + std::string(600, '0') + "\n", "line 1: longer than 521 characters"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string why;
        const auto map = decode(c.text, why);
        ASSERT_FALSE(map);
        EXPECT_EQ(map.error().what, fault_kind::format);
        EXPECT_NE(why.find(c.what), std::string::npos) << why;
    }
}

TEST(IntelHexInput, ContentTest) {
    const struct {
        std::string head;
        bool hex;
    } cases[] = {
        {":10000000", true}, {"\r\n\n:0", true}, {":", false},        {":G", false},
        {" :10", false},     {"", false},        {"S1130000", false},
    };
    for (const auto& c : cases) EXPECT_EQ(looks_like_intel_hex_input(bytes_of(c.head)), c.hex) << c.head;
}

}  // namespace
}  // namespace velk
