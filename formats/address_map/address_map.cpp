#include "formats/address_map/address_map.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace velk {
namespace {

// Bytes read or compared at a time: large enough that a file's reads are
// few, small enough to live on the stack of any thread.
constexpr std::size_t block = std::size_t{1} << 14;

std::uint64_t end_of(const extent& e) { return e.address + e.length; }

std::string named(const extent& e) {
    return e.label.empty() ? std::string("data at ") + address_text(e.address) : e.label;
}

fault layout_fault(std::uint64_t address) { return {fault_kind::layout, role::none, 0, address}; }

// The first address in [from, to) where a and b differ, if any.
result<std::optional<std::uint64_t>> first_difference(const address_map& map, const extent& a,
                                                      const extent& b, std::uint64_t from, std::uint64_t to) {
    std::array<std::uint8_t, block> x;
    std::array<std::uint8_t, block> y;
    for (std::uint64_t at = from; at < to;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block, to - at));
        if (const status s = read_extent(map, a, at - a.address, std::span(x).first(n)); !s) {
            return s.error();
        }
        if (const status s = read_extent(map, b, at - b.address, std::span(y).first(n)); !s) {
            return s.error();
        }
        if (std::memcmp(x.data(), y.data(), n) != 0) {
            const auto i = static_cast<std::size_t>(
                std::mismatch(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n), y.begin()).first -
                x.begin());
            return std::optional<std::uint64_t>(at + i);
        }
        at += n;
    }
    return std::optional<std::uint64_t>();
}

bool put_fill(byte_sink& out, std::uint64_t count) {
    std::array<std::uint8_t, block> erased;
    erased.fill(0xFF);
    while (count > 0) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block, count));
        if (!out.write(std::span(erased).first(n))) return false;
        count -= n;
    }
    return true;
}

status put_extent(const address_map& map, const extent& e, std::uint64_t from, byte_sink& out) {
    std::array<std::uint8_t, block> buf;
    for (std::uint64_t at = from; at < end_of(e);) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block, end_of(e) - at));
        if (const status s = read_extent(map, e, at - e.address, std::span(buf).first(n)); !s) return s;
        if (!out.write(std::span(buf).first(n))) return write_fault(role::none, out.error_number());
        at += n;
    }
    return {};
}

// The extent that ends last; the first such one.
const extent& furthest(const address_map& map) {
    return *std::max_element(map.extents.begin(), map.extents.end(),
                             [](const extent& a, const extent& b) { return end_of(a) < end_of(b); });
}

}  // namespace

std::string address_text(std::uint64_t address) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(address));
    return text;
}

void sort_extents(address_map& map) {
    std::stable_sort(map.extents.begin(), map.extents.end(),
                     [](const extent& a, const extent& b) { return a.address < b.address; });
}

std::uint64_t lo(const address_map& map) {
    if (map.extents.empty()) return 0;
    return std::min_element(map.extents.begin(), map.extents.end(),
                            [](const extent& a, const extent& b) { return a.address < b.address; })
        ->address;
}

std::uint64_t hi(const address_map& map) { return map.extents.empty() ? 0 : end_of(furthest(map)); }

status read_extent(const address_map& map, const extent& e, std::uint64_t at, std::span<std::uint8_t> buf) {
    assert(at <= e.length && buf.size() <= e.length - at);
    if (!e.chunk) {
        assert(map.file != nullptr);
        return map.file->read_at(e.offset + at, buf);
    }
    const std::vector<std::uint8_t>& chunk = map.chunks[*e.chunk];
    assert(e.offset + at + buf.size() <= chunk.size());
    if (!buf.empty()) std::memcpy(buf.data(), chunk.data() + e.offset + at, buf.size());
    return {};
}

status check_overlaps(const address_map& map, std::string& why) {
    assert(std::is_sorted(map.extents.begin(), map.extents.end(),
                          [](const extent& a, const extent& b) { return a.address < b.address; }));
    // The extents that reach past the one at hand: only they can share its
    // addresses, since every later one starts at or after it.
    std::vector<const extent*> open;
    for (const extent& e : map.extents) {
        std::erase_if(open, [&](const extent* o) { return end_of(*o) <= e.address; });
        for (const extent* o : open) {
            const std::uint64_t to = std::min(end_of(*o), end_of(e));
            const auto differs = first_difference(map, *o, e, e.address, to);
            if (!differs) return differs.error();
            if (*differs) {
                why =
                    "different bytes at " + address_text(**differs) + " in " + named(*o) + " and " + named(e);
                return fault{fault_kind::format, role::none, 0, **differs};
            }
        }
        open.push_back(&e);
    }
    return {};
}

address_map crop(address_map map, std::uint64_t start, std::uint64_t end) {
    std::vector<extent> kept;
    for (extent& e : map.extents) {
        const std::uint64_t from = std::max(e.address, start);
        const std::uint64_t to = std::min(end_of(e), end);
        if (from >= to) continue;
        e.offset += from - e.address;
        e.address = from;
        e.length = to - from;
        kept.push_back(std::move(e));
    }
    map.extents = std::move(kept);
    return map;
}

status check_span(const address_map& map, std::uint64_t origin, std::uint64_t max_size, std::string& why) {
    if (map.extents.empty()) return {};
    if (lo(map) < origin) {
        why = "data at " + address_text(lo(map)) + ", below the image's start " + address_text(origin);
        return layout_fault(lo(map));
    }
    if (hi(map) - origin > max_size) {
        const extent& far = furthest(map);
        why = named(far) + " ends at " + address_text(end_of(far)) + ", making the image " +
              std::to_string(end_of(far) - origin) + " bytes from " + address_text(origin) + ", more than " +
              std::to_string(max_size);
        return layout_fault(end_of(far));
    }
    return {};
}

status flatten(const address_map& map, std::uint64_t origin, std::uint64_t max_size, byte_sink& out,
               std::string& why) {
    if (const status s = check_span(map, origin, max_size, why); !s) return s;
    std::uint64_t next = origin;  // the next address to write
    for (const extent& e : map.extents) {
        if (end_of(e) <= next) continue;
        const std::uint64_t from = std::max(e.address, next);
        if (!put_fill(out, from - next)) return write_fault(role::none, out.error_number());
        if (const status s = put_extent(map, e, from, out); !s) return s;
        next = end_of(e);
    }
    return {};
}

flat_image::flat_image(const address_map& map, std::uint64_t origin)
    : map_(map), origin_(origin), size_(map.extents.empty() ? 0 : hi(map) - origin) {
    assert(std::is_sorted(map.extents.begin(), map.extents.end(),
                          [](const extent& a, const extent& b) { return a.address < b.address; }));
    assert(map.extents.empty() || lo(map) >= origin);
    std::uint64_t furthest_end = 0;
    ends_.reserve(map.extents.size());
    for (const extent& e : map.extents) {
        furthest_end = std::max(furthest_end, end_of(e));
        ends_.push_back(furthest_end);
    }
}

status flat_image::read_at(std::uint64_t offset, std::span<std::uint8_t> buf) const {
    if (offset > size_ || buf.size() > size_ - offset) return read_fault(role::none, 0, size_);
    std::fill(buf.begin(), buf.end(), std::uint8_t{0xFF});
    const std::uint64_t from = origin_ + offset;
    const std::uint64_t to = from + buf.size();
    // The first extent that reaches past `from`, counting those before it
    // that may overlap it.
    const auto first = std::upper_bound(ends_.begin(), ends_.end(), from);
    for (auto i = static_cast<std::size_t>(first - ends_.begin()); i < map_.extents.size(); ++i) {
        const extent& e = map_.extents[i];
        if (e.address >= to) break;
        if (end_of(e) <= from) continue;
        const std::uint64_t a = std::max(from, e.address);
        const std::uint64_t b = std::min(to, end_of(e));
        const auto into = buf.subspan(static_cast<std::size_t>(a - from), static_cast<std::size_t>(b - a));
        if (const status s = read_extent(map_, e, a - e.address, into); !s) return s;
    }
    return {};
}

std::size_t flat_image::read(std::span<std::uint8_t> buf) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), size_ - position_));
    if (const status s = read_at(position_, buf.first(n)); !s) {
        error_ = s.error().error != 0 ? s.error().error : EIO;
        return 0;
    }
    position_ += n;
    return n;
}

}  // namespace velk
