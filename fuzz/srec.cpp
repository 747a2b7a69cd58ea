// S-records. Any text is either refused with a reason or gives a map that
// flattens to hi - lo bytes; and what velk's writer makes of any bytes at
// any base reads back to those bytes at that base, with the base as the
// start address (the all-0xFF records it leaves out come back as gaps).
//
// Input: a flags byte (bit 0: the round trip, else the reader alone),
// 4 bytes of base, then the bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/address_map/address_map.hpp"
#include "formats/srec/input.hpp"
#include "formats/srec/writer.hpp"
#include "io/access.hpp"

using namespace velk;

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

constexpr std::uint64_t limit = std::uint64_t{1} << 20;

void read_any(std::span<const std::uint8_t> bytes) {
    const memory_source text(bytes);
    (void)looks_like_srec(bytes);
    std::string why;
    auto map = read_srec(text, why);
    if (!map) {
        require(map.error().what == fault_kind::format && !why.empty());
        return;
    }
    sort_extents(*map);
    if (!check_overlaps(*map, why)) return;
    memory_sink out(limit);
    if (!flatten(*map, lo(*map), limit, out, why)) return;
    require(out.bytes().size() == hi(*map) - lo(*map));
}

void round_trip(std::uint32_t base, std::span<const std::uint8_t> bytes) {
    // Runs of 0xFF make the writer leave records out.
    std::vector<std::uint8_t> image(bytes.begin(), bytes.end());
    for (std::uint8_t& b : image) {
        if ((b & 0xF0) == 0xA0) b = 0xFF;
    }
    if (!fits_srec(base, image.size())) base = static_cast<std::uint32_t>(0x100000000 - image.size());
    memory_sink text;
    srec_sink writer(text, base);
    require(writer.write(image));
    require(writer.finish());
    require(looks_like_srec(text.bytes()));
    const memory_source source(text.bytes());
    std::string why;
    auto map = read_srec(source, why);
    require(map.has_value());
    require(map->start == base);
    sort_extents(*map);
    require(check_overlaps(*map, why).has_value());
    memory_sink out;
    require(flatten(*map, base, image.size(), out, why).has_value());
    require(out.bytes() == image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    const std::uint32_t base =
        std::uint32_t{data[1]} << 24 | std::uint32_t{data[2]} << 16 | std::uint32_t{data[3]} << 8 | data[4];
    const std::span<const std::uint8_t> rest(data + 5, size - 5);
    if ((data[0] & 1) != 0) {
        round_trip(base, rest);
    } else {
        read_any(rest);
    }
    return 0;
}
