// The address map: placing extents into one image, the checks that refuse
// an image that cannot be, and cutting a map to a range. The expected
// images are spelt out by hand: bytes where the extents are, 0xFF between.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "formats/address_map/address_map.hpp"
#include "io/access.hpp"

namespace velk {
namespace {

using Image = std::vector<std::uint8_t>;

// A map whose extents are chunks in memory: {address, bytes, label}.
struct piece {
    std::uint64_t address;
    Image bytes;
    std::string label;
};
address_map map_of(const std::vector<piece>& pieces) {
    address_map map;
    for (const piece& p : pieces) {
        map.extents.push_back({p.address, p.bytes.size(), 0, map.chunks.size(), p.label});
        map.chunks.push_back(p.bytes);
    }
    return map;
}

result<Image> flat(const address_map& map, std::uint64_t origin, std::uint64_t max_size = 1 << 20,
                   std::string* why = nullptr) {
    memory_sink out;
    std::string words;
    const status s = flatten(map, origin, max_size, out, words);
    if (why != nullptr) *why = words;
    if (!s) return s.error();
    return out.bytes();
}

// A file whose reads fail past `good` bytes, as a disk error would.
class failing_file final : public random_source {
public:
    explicit failing_file(std::uint64_t size) : size_(size) {}
    std::uint64_t size() const override { return size_; }
    status read_at(std::uint64_t offset, std::span<std::uint8_t>) const override {
        return read_fault(role::none, 5, offset);
    }

private:
    std::uint64_t size_;
};

TEST(AddressMap, SortsAndMeasures) {
    address_map map = map_of({{0x300, {1}, "c"}, {0x100, {2, 3}, "a"}, {0x100, {2}, "b"}, {0x200, {4}, "d"}});
    sort_extents(map);
    std::string order;
    for (const extent& e : map.extents) order += e.label;
    EXPECT_EQ(order, "abdc");  // extents at one address keep their order
    EXPECT_EQ(lo(map), 0x100u);
    EXPECT_EQ(hi(map), 0x301u);
    EXPECT_EQ(lo(address_map{}), 0u);
    EXPECT_EQ(hi(address_map{}), 0u);
}

TEST(AddressMap, FlattensWithErasedGapsFromFileAndMemory) {
    const Image file_bytes{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
    const memory_source file(file_bytes);
    address_map map = map_of({{0x1004, {0x10, 0x11}, "mem"}});
    map.file = &file;
    // Bytes 2..4 of the file at 0x1000, in front of the chunk.
    map.extents.insert(map.extents.begin(), extent{0x1000, 3, 2, std::nullopt, "file"});

    const auto from_lo = flat(map, 0x1000);
    ASSERT_TRUE(from_lo);
    EXPECT_EQ(*from_lo, (Image{0xA2, 0xA3, 0xA4, 0xFF, 0x10, 0x11}));
    const auto from_below = flat(map, 0x0FFE);
    ASSERT_TRUE(from_below);
    EXPECT_EQ(*from_below, (Image{0xFF, 0xFF, 0xA2, 0xA3, 0xA4, 0xFF, 0x10, 0x11}));
    const auto empty = flat(address_map{}, 0x1000);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

TEST(AddressMap, OverlapsWithTheSameBytesAreWrittenOnce) {
    address_map map =
        map_of({{0x10, {1, 2, 3, 4, 5, 6}, "outer"}, {0x11, {2, 3}, "inner"}, {0x14, {5, 6, 7}, "tail"}});
    std::string why;
    EXPECT_TRUE(check_overlaps(map, why));
    const auto image = flat(map, 0x10);
    ASSERT_TRUE(image);
    EXPECT_EQ(*image, (Image{1, 2, 3, 4, 5, 6, 7}));
}

TEST(AddressMap, OverlapsWithDifferentBytesNameTheAddressAndBothExtents) {
    const struct {
        std::vector<piece> pieces;
        std::uint64_t first_difference;
        std::string why;
    } cases[] = {
        {{{0x10, {1, 2, 3, 4}, ".text"}, {0x12, {3, 9}, ".data"}}, 0x13, "0x00000013 in .text and .data"},
        // The difference is with an extent two back, still open.
        {{{0x0, Image(100, 7), ".big"}, {0x10, {7, 7}, ".same"}, {0x40, {7, 7, 8}, ".late"}},
         0x42,
         "0x00000042 in .big and .late"},
        // A neighbour that ends where the next starts is no overlap.
        {{{0x0, {1, 2}, "a"}, {0x2, {3}, "b"}, {0x2, {4}, "c"}}, 0x2, "0x00000002 in b and c"},
        {{{0x8, {1}, ""}, {0x8, {2}, ""}}, 0x8, "data at 0x00000008 and data at 0x00000008"},
    };
    for (const auto& c : cases) {
        address_map map = map_of(c.pieces);
        sort_extents(map);
        std::string why;
        const status s = check_overlaps(map, why);
        ASSERT_FALSE(s) << c.why;
        EXPECT_EQ(s.error().what, fault_kind::format);
        EXPECT_EQ(s.error().offset, c.first_difference);
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
}

TEST(AddressMap, CropsToARange) {
    address_map map = map_of({{0x100, {1, 2, 3, 4}, "a"}, {0x108, {5, 6}, "b"}, {0x200, {7}, "c"}});
    map.start = 0x101;
    const address_map cut = crop(map, 0x102, 0x109);
    ASSERT_EQ(cut.extents.size(), 2u);
    EXPECT_EQ(cut.extents[0].label, "a");
    EXPECT_EQ(cut.start, 0x101u);
    EXPECT_EQ(lo(cut), 0x102u);
    EXPECT_EQ(hi(cut), 0x109u);
    const auto image = flat(cut, 0x102);
    ASSERT_TRUE(image);
    EXPECT_EQ(*image, (Image{3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 5}));
    EXPECT_TRUE(crop(map, 0x300, 0x400).extents.empty());
}

TEST(AddressMap, RefusesDataBelowTheOriginAndImagesTooLarge) {
    // The extent that ends furthest is not the last one.
    address_map map = map_of({{0x1000, Image(0x100, 1), ".text"}, {0x1010, {1}, ".small"}});
    std::string why;
    auto below = flat(map, 0x1001, 1 << 20, &why);
    ASSERT_FALSE(below);
    EXPECT_EQ(below.error().what, fault_kind::layout);
    EXPECT_EQ(below.error().offset, 0x1000u);
    EXPECT_NE(why.find("0x00001000"), std::string::npos) << why;

    EXPECT_TRUE(flat(map, 0x1000, 0x100));
    auto large = flat(map, 0x1000, 0xFF, &why);
    ASSERT_FALSE(large);
    EXPECT_EQ(large.error().what, fault_kind::layout);
    EXPECT_EQ(large.error().offset, 0x1100u);
    EXPECT_NE(why.find(".text ends at 0x00001100"), std::string::npos) << why;
}

TEST(AddressMap, PassesOnReadAndWriteFaults) {
    const failing_file file(100);
    address_map map;
    map.file = &file;
    map.extents.push_back({0, 10, 0, std::nullopt, "x"});
    auto unread = flat(map, 0);
    ASSERT_FALSE(unread);
    EXPECT_EQ(unread.error().what, fault_kind::read);
    EXPECT_EQ(unread.error().error, 5);

    const address_map big = map_of({{0, Image(100, 1), "x"}});
    memory_sink full(50);
    std::string why;
    const status s = flatten(big, 0, 1000, full, why);
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error().what, fault_kind::write);
    EXPECT_EQ(s.error().error, full.error_number());
}

}  // namespace
}  // namespace velk
