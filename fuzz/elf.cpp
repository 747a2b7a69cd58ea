// ELF files as an input: any bytes are either refused with a reason or
// give a map whose extents lie inside the file and flatten, when they do
// not overlap with different bytes, to exactly hi - lo bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "formats/address_map/address_map.hpp"
#include "formats/elf/input.hpp"
#include "io/access.hpp"

using namespace velk;

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

constexpr std::uint64_t limit = std::uint64_t{1} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const memory_source file({data, size});
    (void)looks_like_elf({data, size});
    std::string why;
    auto map = read_elf(file, why);
    if (!map) {
        require(map.error().what == fault_kind::format && !why.empty());
        return 0;
    }
    for (const extent& e : map->extents) {
        require(e.length > 0 && !e.chunk && e.offset <= size && e.length <= size - e.offset);
    }
    sort_extents(*map);
    if (!check_overlaps(*map, why)) return 0;
    memory_sink out(limit);
    if (!flatten(*map, lo(*map), limit, out, why)) return 0;
    require(out.bytes().size() == hi(*map) - lo(*map));
    return 0;
}
