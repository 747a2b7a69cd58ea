#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "oad/crc32.hpp"
#include "oad/header.hpp"

namespace velk {
namespace {

std::vector<std::uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<std::uint8_t> random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(gen());
    return v;
}

std::uint32_t zlib_jamcrc(const std::vector<std::uint8_t>& v) {
    return ~static_cast<std::uint32_t>(crc32(0L, v.data(), static_cast<uInt>(v.size())));
}

TEST(Crc32, CatalogueValues) {
    EXPECT_EQ(crc32_init_table(), 0);
    EXPECT_EQ(crc32_update(crc32_init, bytes_of("123456789")), crc32_check);
    EXPECT_EQ(crc32_update(crc32_init, {}), 0xFFFFFFFFu);
    EXPECT_EQ(crc32_table_entry(128), 0xEDB88320u);
    EXPECT_EQ(crc32_table_entry(1), 0x77073096u);
}

TEST(Crc32, MatchesZlibOnEveryLengthAndSplit) {
    const auto data = random_bytes(300, 7);
    for (std::size_t n = 0; n <= data.size(); n += 7) {
        const std::vector<std::uint8_t> part(data.begin(), data.begin() + static_cast<long>(n));
        const std::uint32_t whole = crc32_update(crc32_init, part);
        EXPECT_EQ(whole, zlib_jamcrc(part)) << n;
        const std::size_t cut = n / 3;
        const std::uint32_t split = crc32_update(
            crc32_update(crc32_init, std::span(part).first(cut)), std::span(part).subspan(cut));
        EXPECT_EQ(split, whole) << n;
    }
}

TEST(Crc32, ShiftFinishesACrcWithoutRereadingTheData) {
    const auto a = random_bytes(1000, 1);
    for (std::size_t tail : {0u, 1u, 7u, 64u, 999u, 65536u + 3u}) {
        const auto b = random_bytes(tail, static_cast<unsigned>(tail));
        std::vector<std::uint8_t> ab = a;
        ab.insert(ab.end(), b.begin(), b.end());
        const std::uint32_t combined =
            crc32_shift(crc32_update(crc32_init, a), b.size()) ^ crc32_update(0, b);
        EXPECT_EQ(combined, crc32_update(crc32_init, ab)) << tail;
    }
}

TEST(OadHeader, BytesAreLittleEndianInFieldOrder) {
    const OAD_HDR_T h = make_oad_header(0x11223344, 0x3F0, 0x10203, 0x42424242, 0xFFFF);
    const auto b = header_bytes(h);
    const std::vector<std::uint8_t> want = {0x44, 0x33, 0x22, 0x11, 0x03, 0x02, 0x00, 0x01,
                                            0x42, 0x42, 0x42, 0x42, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::vector<std::uint8_t>(b.begin(), b.end()), want);
}

TEST(OadHeader, LengthWordsKeepsTheLow16BitsRoundedDown) {
    const struct {
        std::uint64_t body;
        std::uint16_t words;
    } cases[] = {
        {0x3F0, 0x0100}, {0x3FFF0, 0x0000}, {0x43B70, 0x0EE0}, {0x3F1, 0x0100},
        {0x3F3, 0x0100}, {0x3F4, 0x0101},   {0, 4},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(make_oad_header(0, c.body, 0, 0, 0).length_words, c.words) << c.body;
    }
}

}  // namespace
}  // namespace velk
