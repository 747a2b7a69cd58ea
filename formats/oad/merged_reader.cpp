#include "formats/oad/merged_reader.hpp"

#include <algorithm>

#include "formats/crc/crc.hpp"

namespace velk {
namespace {

using u64 = std::uint64_t;

constexpr std::size_t boot = 0;
constexpr std::size_t stack = 1;
constexpr std::size_t app = 2;

// The offset of the last byte of `bytes` that is not 0xFF.
std::optional<std::size_t> last_not_erased(std::span<const std::uint8_t> bytes) {
    for (std::size_t i = bytes.size(); i-- > 0;) {
        if (bytes[i] != 0xFF) return i;
    }
    return std::nullopt;
}

}  // namespace

merged_checker::merged_checker(const merge_layout& layout, u64 origin, u64 size,
                               problem_list& problems, const merged_expectations& expect)
    : layout_(layout),
      origin_(origin),
      size_(size),
      problems_(problems),
      expect_(expect),
      stack_slot_(layout.stack_at - oad_header_size),
      app_slot_(layout.app_at - oad_header_size),
      at_(origin),
      stack_crc_(crc32_jamcrc::start()),
      app_crc_(crc32_jamcrc::start()) {
    edges_ = {stack_slot_, layout.stack_at, app_slot_, layout.app_at};
    if (expect_.parts) {
        const auto& parts = *expect_.parts;
        // A boot or stack image may reach into the header slot after it
        // with 0xFF only, which the header replaced: the image holds its
        // bytes up to the slot.
        ends_[boot] = std::min(parts[boot].length, stack_slot_);
        ends_[stack] = layout.stack_at + std::min(parts[stack].length, app_slot_ - layout.stack_at);
        ends_[app] = layout.app_at + parts[app].length;
        const std::array<u64, 3> starts{0, layout.stack_at, layout.app_at};
        for (std::size_t i = 0; i < 3; ++i) {
            edges_.push_back(ends_[i]);
            // The parts before the file's origin are not in it.
            if (starts[i] >= origin_ && parts[i].data != nullptr) {
                compare_[i].emplace(*parts[i].data, ends_[i] - starts[i]);
            }
        }
    }
    std::sort(edges_.begin(), edges_.end());
}

void merged_checker::count_fill(fill_count& fill, std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == 0xFF) continue;
        if (fill.not_erased++ == 0) {
            fill.first = at_ + i - origin_;
            fill.first_value = bytes[i];
        }
    }
}

// One piece that lies within one region.
void merged_checker::piece(std::span<const std::uint8_t> bytes) {
    const u64 m = at_;
    const bool with_parts = expect_.parts.has_value();
    const auto track = [&](std::size_t part) {
        if (const auto last = last_not_erased(bytes)) last_data_[part] = m + *last;
    };
    const auto compare_or_fill = [&](std::size_t part, fill_count& fill) {
        if (!with_parts) return;
        if (m < ends_[part]) {
            if (compare_[part]) compare_[part]->write(bytes);
        } else {
            count_fill(fill, bytes);
        }
    };
    if (m < stack_slot_) {
        track(boot);
        compare_or_fill(boot, boot_fill_);
    } else if (m < layout_.stack_at) {
        std::copy(bytes.begin(), bytes.end(), stack_bytes_.begin() + static_cast<std::ptrdiff_t>(m - stack_slot_));
    } else if (m < app_slot_) {
        stack_crc_ = crc32_jamcrc::update(stack_crc_, bytes);
        track(stack);
        compare_or_fill(stack, stack_fill_);
    } else if (m < layout_.app_at) {
        stack_crc_ = crc32_jamcrc::update(stack_crc_, bytes);
        std::copy(bytes.begin(), bytes.end(), app_bytes_.begin() + static_cast<std::ptrdiff_t>(m - app_slot_));
    } else {
        stack_crc_ = crc32_jamcrc::update(stack_crc_, bytes);
        app_crc_ = crc32_jamcrc::update(app_crc_, bytes);
        track(app);
        compare_or_fill(app, end_padding_);
    }
}

void merged_checker::feed(std::span<const std::uint8_t> bytes) {
    const u64 end = origin_ + size_;
    if (at_ >= end) return;
    bytes = bytes.first(static_cast<std::size_t>(std::min<u64>(bytes.size(), end - at_)));
    while (!bytes.empty()) {
        u64 stop = at_ + bytes.size();
        for (const u64 edge : edges_) {
            if (edge > at_ && edge < stop) {
                stop = edge;
                break;
            }
        }
        const auto n = static_cast<std::size_t>(stop - at_);
        piece(bytes.first(n));
        at_ += n;
        bytes = bytes.subspan(n);
    }
}

void merged_checker::report_header(std::optional<oad_header_report>& out, u64 at,
                                   const std::array<std::uint8_t, oad_header_size>& bytes,
                                   std::uint32_t crc, image_part part,
                                   const std::optional<oad_header>& written) {
    const u64 end = origin_ + size_;
    if (at < origin_) return;
    if (end < at + oad_header_size) {
        problem p;
        p.what = check::header_missing;
        p.part = part;
        p.offset = at - origin_;
        p.count = size_;
        problems_.add(p);
        return;
    }
    oad_header_report h;
    h.offset = at - origin_;
    h.stored = decode_oad_header(bytes);
    h.computed_crc = crc32_jamcrc::finish(crc);
    h.length = end - at;
    check_oad_header(h, part, problems_);
    if (written) compare_oad_header(h, *written, part, problems_);
    out = h;
}

void merged_checker::report_fill(const fill_count& fill, image_part part) {
    if (fill.not_erased == 0) return;
    problem p;
    p.what = check::fill_byte;
    p.part = part;
    p.offset = fill.first;
    p.stored = fill.first_value;
    p.count = fill.not_erased;
    problems_.add(p);
}

merged_report merged_checker::finish() {
    const u64 end = origin_ + size_;
    merged_report r;
    r.layout = layout_;
    r.origin = origin_;
    r.size = size_;
    r.lengths_known = expect_.parts.has_value();

    report_header(r.stack_header, stack_slot_, stack_bytes_, stack_crc_, image_part::stack_header,
                  expect_.stack_header);
    report_header(r.app_header, app_slot_, app_bytes_, app_crc_, image_part::app_header,
                  expect_.app_header);
    if (r.stack_header && r.app_header) {
        // Both headers of one merge carry the same version and ROM version.
        const oad_header& s = r.stack_header->stored;
        const oad_header& a = r.app_header->stored;
        problem p;
        p.what = check::headers_disagree;
        p.part = image_part::stack_header;
        p.offset = r.stack_header->offset;
        if (s.version != a.version) {
            p.field = header_field::version;
            p.stored = s.version;
            p.computed = a.version;
            problems_.add(p);
        }
        if (s.rom_version != a.rom_version) {
            p.field = header_field::rom_version;
            p.stored = s.rom_version;
            p.computed = a.rom_version;
            problems_.add(p);
        }
    }

    // Where each data region ends: from the inputs, or after its last byte
    // that is not 0xFF.
    std::array<u64, 3> data_end{};
    const std::array<u64, 3> starts{0, layout_.stack_at, layout_.app_at};
    for (std::size_t i = 0; i < 3; ++i) {
        data_end[i] = r.lengths_known ? ends_[i] : (last_data_[i] ? *last_data_[i] + 1 : starts[i]);
    }

    // The end padding: 1 to 256 bytes of 0xFF, so that the stack OAD image
    // is a whole number of 256-byte pages.
    const u64 app_end = std::min(data_end[app], end);
    const u64 padding = end > app_end ? end - app_end : 0;
    const u64 misaligned = end >= stack_slot_ ? (end - stack_slot_) % 256 : 0;
    const u64 required = r.lengths_known ? 256 - ((data_end[app] - stack_slot_) & 0xFF) : 0;
    if ((r.lengths_known && padding != required) || (!r.lengths_known && (misaligned != 0 || padding == 0))) {
        problem p;
        p.what = check::end_padding;
        p.part = image_part::end_padding;
        p.offset = app_end - origin_;
        p.stored = padding;
        p.computed = required;
        p.count = misaligned;
        problems_.add(p);
    }
    if (r.lengths_known) {
        report_fill(boot_fill_, image_part::boot_fill);
        report_fill(stack_fill_, image_part::stack_fill);
        report_fill(end_padding_, image_part::end_padding);
    }

    const std::array<image_part, 3> parts{image_part::boot, image_part::stack, image_part::app};
    for (std::size_t i = 0; i < 3; ++i) {
        if (!compare_[i]) continue;
        const comparison c = compare_[i]->finish();
        if (c.read_failed) {
            problem p;
            p.what = check::read_error;
            p.part = parts[i];
            p.offset = c.expected_length;
            problems_.add(p);
        }
        if (c.first) {
            problem p;
            p.what = check::data_differs;
            p.part = parts[i];
            p.offset = *c.first;
            p.stored = c.first_actual;
            p.computed = c.first_expected;
            p.count = c.differing;
            problems_.add(p);
        }
        if (c.actual_length != c.expected_length) {
            problem p;
            p.what = check::length_differs;
            p.part = parts[i];
            p.stored = c.actual_length;
            p.computed = c.expected_length;
            problems_.add(p);
        }
    }

    // The map, in file offsets, of the regions the file holds.
    const auto row = [&](map_region region, u64 from, u64 to, u64 not_erased = 0) {
        from = std::clamp(from, origin_, end);
        to = std::clamp(to, from, end);
        if (from == to && region != map_region::end_padding && from == end) return;
        r.map.push_back({region, from - origin_, to - from, not_erased});
    };
    if (origin_ == 0) {
        row(map_region::boot, 0, data_end[boot]);
        row(map_region::boot_fill, data_end[boot], stack_slot_, boot_fill_.not_erased);
    }
    if (origin_ <= stack_slot_) {
        row(map_region::stack_header, stack_slot_, layout_.stack_at);
        row(map_region::stack, layout_.stack_at, data_end[stack]);
        row(map_region::stack_fill, data_end[stack], app_slot_, stack_fill_.not_erased);
    }
    row(map_region::app_header, app_slot_, layout_.app_at);
    row(map_region::app, layout_.app_at, data_end[app]);
    row(map_region::end_padding, app_end, end, end_padding_.not_erased);
    return r;
}

}  // namespace velk
