// Intel HEX as an input: any text is either refused with a reason or
// gives a map that flattens, when its overlaps agree, to hi - lo bytes, the
// bytes of every extent at its address.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "formats/address_map/address_map.hpp"
#include "formats/intel_hex/input.hpp"
#include "io/access.hpp"

using namespace velk;

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

constexpr std::uint64_t limit = std::uint64_t{1} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const memory_source text({data, size});
    (void)looks_like_intel_hex_input({data, size});
    std::string why;
    auto map = read_intel_hex_input(text, why);
    if (!map) {
        require(map.error().what == fault_kind::format && !why.empty());
        return 0;
    }
    std::uint64_t decoded = 0;
    for (const extent& e : map->extents) {
        require(e.length > 0 && e.chunk && map->chunks[*e.chunk].size() == e.length);
        decoded += e.length;
    }
    require(decoded <= size / 2);  // two digits a byte at least
    sort_extents(*map);
    if (!check_overlaps(*map, why)) return 0;
    memory_sink out(limit);
    if (!flatten(*map, lo(*map), limit, out, why)) return 0;
    const auto& image = out.bytes();
    require(image.size() == hi(*map) - lo(*map));
    // Where extents overlap they agree, so each one's bytes are in place.
    for (const extent& e : map->extents) {
        const auto& chunk = map->chunks[*e.chunk];
        for (std::uint64_t i = 0; i < e.length; ++i) require(image[e.address - lo(*map) + i] == chunk[i]);
    }
    return 0;
}
