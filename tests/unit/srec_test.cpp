// S-records, read and written. objcopy's S-records of a linked program, in
// each of its address lengths, must give the binary objcopy makes of the
// same sections; srec_cat must read back what velk writes as the image
// given; records written here from the format's definition (the checksum
// is the complement of the bytes' sum) cover every refusal.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "elf_fixture.hpp"
#include "formats/address_map/address_map.hpp"
#include "formats/srec/input.hpp"
#include "formats/srec/writer.hpp"
#include "harness.hpp"
#include "io/access.hpp"
#include "support.hpp"

namespace velk {
namespace {

using test::Image;

std::span<const std::uint8_t> bytes_of(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// One record of type `type` with `address_bytes` of address.
std::string record(int type, std::uint32_t address, std::size_t address_bytes, const Image& data) {
    std::vector<unsigned> fields{static_cast<unsigned>(address_bytes + data.size() + 1)};
    for (std::size_t i = address_bytes; i-- > 0;) fields.push_back((address >> (8 * i)) & 0xFF);
    fields.insert(fields.end(), data.begin(), data.end());
    std::string text = "S" + std::to_string(type);
    unsigned sum = 0;
    char digits[3];
    for (const unsigned f : fields) {
        sum += f;
        std::snprintf(digits, sizeof digits, "%02X", f & 0xFF);
        text += digits;
    }
    std::snprintf(digits, sizeof digits, "%02X", ~sum & 0xFF);
    return text + digits + "\n";
}

result<address_map> decode(const std::string& text, std::string& why) {
    const memory_source source(bytes_of(text));
    return read_srec(source, why);
}

Image flat_image(address_map map, std::uint64_t origin) {
    sort_extents(map);
    std::string why;
    EXPECT_TRUE(check_overlaps(map, why)) << why;
    memory_sink out;
    EXPECT_TRUE(flatten(map, origin, std::uint64_t{1} << 30, out, why)) << why;
    return out.bytes();
}

std::string written(const Image& image, std::uint32_t base, std::optional<std::uint32_t> start = {}) {
    memory_sink out;
    srec_sink srec(out, base, start);
    EXPECT_TRUE(srec.write(image));
    EXPECT_TRUE(srec.finish());
    return std::string(out.bytes().begin(), out.bytes().end());
}

TEST(SrecInput, ObjcopysRecordsGiveObjcopysBinary) {
    std::string missing;
    const auto program = test::build_arm_program(missing);
    if (!missing.empty()) GTEST_SKIP() << missing << " is not installed";
    ASSERT_TRUE(program);
    // objcopy picks the shortest address that holds the highest one.
    const struct {
        std::string arguments;
        std::string records;
        std::uint64_t base;
    } cases[] = {
        {"", "S3", program->base},
        {"--change-addresses -0x08000000", "S2", 0},
        {"-j .text --change-addresses -0x08000000", "S1", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const auto text = test::objcopy(*program, c.arguments + " -O srec");
        const auto binary = test::objcopy(*program, c.arguments + " -O binary --gap-fill 0xFF");
        ASSERT_TRUE(text && binary);
        EXPECT_NE(text->find("\n" + c.records), std::string::npos);
        std::string why;
        const auto map = decode(*text, why);
        ASSERT_TRUE(map) << why;
        EXPECT_EQ(lo(*map), c.base);
        EXPECT_EQ(flat_image(*map, c.base), Image(binary->begin(), binary->end()));
    }
    std::string why;
    const auto map = decode(program->srec, why);
    ASSERT_TRUE(map) << why;
    EXPECT_EQ(map->start, program->entry);
}

TEST(SrecInput, CountsAndStartAddresses) {
    const std::string data = record(1, 0x100, 2, {1, 2}) + record(2, 0x102, 3, {3});
    const struct {
        std::string text;
        std::uint64_t start;
    } cases[] = {
        {record(0, 0, 2, {'h', 'i'}) + data + record(5, 2, 2, {}) + record(9, 0x1234, 2, {}), 0x1234},
        {data + record(6, 2, 3, {}) + record(8, 0x123456, 3, {}), 0x123456},
        {record(5, 0, 2, {}) + data + record(7, 0x12345678, 4, {}), 0x12345678},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string why;
        const auto map = decode(c.text, why);
        ASSERT_TRUE(map) << why;
        EXPECT_EQ(map->start, c.start);
        EXPECT_EQ(flat_image(*map, 0x100), (Image{1, 2, 3}));
    }
}

TEST(SrecInput, RefusesMalformedRecordsNamingTheLine) {
    const std::string good = record(1, 0, 2, {1, 2});
    const std::string end = record(9, 0, 2, {});
    const struct {
        std::string text;
        std::string what;
    } cases[] = {
        {good + ":0100\n" + end, "line 2: does not start with 'S' and a digit"},
        {good + "S\n" + end, "line 2: does not start with 'S' and a digit"},
        {"S4030000FC\n" + end, "line 1: S4 is not a record type"},
        {"S1030000F\n" + end, "line 1: an odd number of hex digits after S1"},
        {"S10300X0FC\n" + end, "line 1: column 7 is not a hex digit after S1"},
        {"S1040000FC\n" + end, "line 1: the byte count does not match"},
        {"S1\n" + end, "line 1: the byte count does not match"},
        {"S2030000FC\n" + end, "line 1: too short for an S2 record"},
        {"S1030000FD\n" + end, "line 1: checksum 0xFD, should be 0xFC"},
        {good + good + record(5, 1, 2, {}) + end, "line 3: the count says 1 data records, 2 came before it"},
        {good + record(6, 3, 3, {}) + end, "line 2: the count says 3 data records, 1 came before it"},
        {good + record(9, 0, 2, {1}), "line 2: an S9 record holds no data"},
        {good + record(5, 1, 2, {0}) + end, "line 2: an S5 record holds no data"},
        {good + end + good, "line 3: a record after the termination record"},
        {good + "\n" + good, "no termination record (S7, S8 or S9) after line 3"},
        {"S1" + std::string(600, '0') + "\n", "line 1: longer than 514 characters"},
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

TEST(SrecInput, ContentTest) {
    EXPECT_TRUE(looks_like_srec(bytes_of("S0030000FC")));
    EXPECT_TRUE(looks_like_srec(bytes_of("S9")));
    EXPECT_FALSE(looks_like_srec(bytes_of("S")));
    EXPECT_FALSE(looks_like_srec(bytes_of("SX")));
    EXPECT_FALSE(looks_like_srec(bytes_of("\nS0")));
    EXPECT_FALSE(looks_like_srec(bytes_of(":10000000")));
}

// The records themselves, from the definition: count, address, data,
// complement of the sum; CR LF.
TEST(SrecWriter, WritesHeaderDataAndTerminationRecords) {
    EXPECT_EQ(written({0x01, 0x02}, 0x08000000), "S0030000FC\r\nS307080000000102ED\r\nS70508000000F2\r\n");
    EXPECT_EQ(written({}, 0x100, 0x12345678), "S0030000FC\r\nS70512345678E6\r\n");
}

// A full record of erased flash is left out unless it is the image's last:
// which records are written, by the addresses they start at.
TEST(SrecWriter, LeavesOutErasedRecordsButTheLast) {
    const Image erased(16, 0xFF);
    const Image data(16, 0x5A);
    auto join = [](std::initializer_list<Image> parts) {
        Image all;
        for (const Image& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const struct {
        Image image;
        std::vector<std::uint32_t> addresses;  // of the S3 records, from 0
    } cases[] = {
        {join({erased, data, erased}), {16, 32}},          {join({erased, erased}), {16}},
        {join({data, erased, Image(3, 0xFF)}), {0, 32}},   {join({data, erased, Image{1}}), {0, 32}},
        {join({data, data, Image(5, 0xFF)}), {0, 16, 32}}, {Image(3, 0xFF), {0}},
    };
    for (const auto& c : cases) {
        const std::string text = written(c.image, 0x1000);
        std::vector<std::uint32_t> addresses;
        for (std::size_t at = 0; (at = text.find("S3", at)) != std::string::npos; at += 2) {
            addresses.push_back(static_cast<std::uint32_t>(std::stoul(text.substr(at + 4, 8), nullptr, 16)) -
                                0x1000);
        }
        EXPECT_EQ(addresses, c.addresses) << text;
        std::string why;
        const auto map = decode(text, why);
        ASSERT_TRUE(map) << why;
        EXPECT_EQ(map->start, 0x1000u);
        EXPECT_EQ(flat_image(*map, 0x1000), c.image);
    }
}

TEST(SrecWriter, SrecCatReadsBackTheImage) {
    if (!test::have_tool("srec_cat")) GTEST_SKIP() << "srec_cat is not installed";
    const test::Bytes noise = test::noise(1000, 7);
    Image image(noise.begin(), noise.end());
    std::fill(image.begin() + 32, image.begin() + 300, 0xFF);  // records left out
    std::fill(image.end() - 40, image.end(), 0xFF);
    for (const std::uint32_t base : {0x0u, 0x08000001u}) {
        SCOPED_TRACE(base);
        const test::Sandbox box;
        const std::string text = written(image, base);
        box.write("in.srec", text);
        char range[64];
        std::snprintf(range, sizeof range, "0x%X 0x%llX -offset -0x%X", base,
                      static_cast<unsigned long long>(base) + image.size(), base);
        ASSERT_TRUE(test::shell("cd " + box.path() + " && srec_cat in.srec -fill 0xFF " + range +
                                " -o out.bin -binary 2>&1"));
        const test::Bytes back = box.read("out.bin");
        EXPECT_EQ(Image(back.begin(), back.end()), image);
    }
}

TEST(SrecWriter, PassesOnWriteFaults) {
    memory_sink full(100);
    srec_sink srec(full, 0);
    EXPECT_TRUE(srec.write(Image(64, 1)));  // still collected, not written
    EXPECT_FALSE(srec.finish());
    EXPECT_EQ(srec.error_number(), full.error_number());
    EXPECT_NE(srec.error_number(), 0);
}

}  // namespace
}  // namespace velk
