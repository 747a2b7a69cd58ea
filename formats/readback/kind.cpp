#include "formats/readback/kind.hpp"

#include <algorithm>

#include "formats/core/erased.hpp"
#include "formats/crc/crc.hpp"
#include "formats/oad/header_reader.hpp"

namespace velk {
namespace {

using u64 = std::uint64_t;

constexpr std::size_t oad_slot = 0;
constexpr std::size_t stack_slot = 1;
constexpr std::size_t app_slot = 2;
constexpr std::size_t embedded_slot = 3;

class classifier {
public:
    classifier(const image_sample& sample, const merge_layout& layout)
        : s_(sample), layout_(layout), stack_slot_at_(layout.stack_at - oad_header_size),
          app_slot_at_(layout.app_at - oad_header_size) {}

    // A header in slot i that fits the image from there to its end: by its
    // fields, or (with_crc) by the CRC of what follows it.
    bool header_at(std::size_t i, bool with_crc) const {
        const image_sample::slot& slot = s_.slots[i];
        if (!slot.bytes || s_.size < slot.at + oad_header_size) return false;
        if (header_plausible(*slot.bytes, s_.size - slot.at)) return true;
        return with_crc && slot.body_crc && *slot.body_crc == decode_oad_header(*slot.bytes).crc;
    }

    bool long_enough_for_merged() const { return s_.size >= app_slot_at_ + oad_header_size; }

    // Merged: both headers fit by their fields; with the CRCs, either
    // header fits (the other one may be damaged).
    bool merged(bool with_crc) const {
        if (!long_enough_for_merged()) return false;
        if (with_crc) return header_at(stack_slot, true) || header_at(app_slot, true);
        return header_at(stack_slot, false) && header_at(app_slot, false);
    }

    bool oad(bool with_crc) const { return header_at(oad_slot, with_crc); }

    // A stack OAD image holds the app header where the app's slot falls.
    image_kind oad_role() const {
        return header_at(embedded_slot, s_.crcs) ? image_kind::oad_stack : image_kind::oad_app;
    }
    bool role_needs_crcs() const {
        const image_sample::slot& slot = s_.slots[embedded_slot];
        return !s_.crcs && slot.bytes && !header_at(embedded_slot, false);
    }

    flash_crc_layout flash_layout(bool padded) const {
        return padded ? padded_flash_layout(s_.size, s_.tail) : plain_flash_layout(s_.size);
    }
    bool reads_padded() const { return reads_as_padded(s_.size, s_.tail); }

    // The first blocks mostly check out (all of them, when `strict`); or
    // the image of nothing, padded: 256 bytes of 0xFF.
    bool flash_evidence(const flash_crc_layout& layout, bool strict = false) const {
        const block_evidence e = sample_blocks(s_.head, layout.blocks);
        if (e.good != 0 && (strict ? e.good == e.checked : 2 * e.good >= e.checked)) return true;
        return layout.padded && layout.blocks == 0 && s_.size == 256 && s_.tail.size() == 256 &&
               all_erased(s_.tail);
    }

    void reject_all(std::vector<rejection>& tried) const {
        using candidate = rejection::candidate;
        using reason = rejection::reason;
        rejection r;
        r.what = candidate::merged;
        if (!long_enough_for_merged()) {
            r.why = reason::too_short;
            r.needed = app_slot_at_ + oad_header_size;
        } else {
            r.why = reason::no_header;
            r.offset = stack_slot_at_;
            r.offset2 = app_slot_at_;
        }
        tried.push_back(r);

        r = {};
        r.what = candidate::oad;
        if (s_.size < oad_header_size) {
            r.why = reason::too_short;
            r.needed = oad_header_size;
        } else {
            r.why = reason::no_header;
        }
        tried.push_back(r);

        r = {};
        r.what = candidate::padded_flash_crc;
        if (s_.size == 0) {
            r.why = reason::empty;
        } else if (s_.size % 256 != 0) {
            r.why = reason::not_multiple;
        } else if (s_.tail.back() != 0xFF) {
            r.why = reason::not_erased_end;
        } else {
            const block_evidence e = sample_blocks(s_.head, flash_layout(true).blocks);
            r.why = reason::block_crcs;
            r.good = e.good;
            r.checked = e.checked;
        }
        tried.push_back(r);

        r = {};
        r.what = candidate::flash_crc;
        if (s_.size == 0) {
            r.why = reason::empty;
        } else {
            const block_evidence e = sample_blocks(s_.head, flash_layout(false).blocks);
            r.why = reason::block_crcs;
            r.good = e.good;
            r.checked = e.checked;
        }
        tried.push_back(r);
    }

private:
    const image_sample& s_;
    merge_layout layout_;
    u64 stack_slot_at_;
    u64 app_slot_at_;
};

}  // namespace

std::array<u64, 4> slot_offsets(const merge_layout& layout) {
    return {0, layout.stack_at - oad_header_size, layout.app_at - oad_header_size,
            layout.app_at - layout.stack_at};
}

image_sampler::image_sampler(const merge_layout& layout)
    : running_(crc32_jamcrc::start()), ring_(layout_tail_bytes) {
    const std::array<u64, 4> at = slot_offsets(layout);
    for (std::size_t i = 0; i < at.size(); ++i) sample_.slots[i].at = at[i];
    crc_.fill(0);
}

// One CRC register runs over the whole image; a snapshot taken where each
// slot's body begins gives that body's CRC at the end, by the CRC's
// linearity: reg(body) = shift(init, n) ^ reg(all) ^ shift(reg(before), n).
void image_sampler::feed(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const u64 at = sample_.size;
        // Stop at the next place a slot or its body begins.
        u64 stop = at + bytes.size();
        for (const image_sample::slot& slot : sample_.slots) {
            for (const u64 edge : {slot.at, slot.at + oad_header_size}) {
                if (edge > at && edge < stop) stop = edge;
            }
        }
        const auto n = static_cast<std::size_t>(stop - at);
        const std::span<const std::uint8_t> piece = bytes.first(n);
        for (std::size_t i = 0; i < sample_.slots.size(); ++i) {
            image_sample::slot& slot = sample_.slots[i];
            if (at == slot.at + oad_header_size) crc_[i] = running_;
            if (at >= slot.at && at < slot.at + oad_header_size) {
                if (!slot.bytes) slot.bytes.emplace();
                std::copy(piece.begin(), piece.end(), slot.bytes->begin() + static_cast<std::ptrdiff_t>(at - slot.at));
            }
        }
        if (sample_.head.size() < image_sample::head_bytes) {
            const std::size_t take = std::min(n, image_sample::head_bytes - sample_.head.size());
            sample_.head.insert(sample_.head.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(take));
        }
        for (const std::uint8_t b : piece.last(std::min(n, ring_.size()))) {
            ring_[ring_at_] = b;
            ring_at_ = (ring_at_ + 1) % ring_.size();
        }
        running_ = crc32_jamcrc::update(running_, piece);
        sample_.size += n;
        bytes = bytes.subspan(n);
    }
}

image_sample image_sampler::finish() {
    const u64 size = sample_.size;
    const auto kept = static_cast<std::size_t>(std::min<u64>(size, ring_.size()));
    sample_.tail.resize(kept);
    for (std::size_t i = 0; i < kept; ++i) {
        sample_.tail[i] = ring_[(ring_at_ + ring_.size() - kept + i) % ring_.size()];
    }
    for (std::size_t i = 0; i < sample_.slots.size(); ++i) {
        image_sample::slot& slot = sample_.slots[i];
        if (size < slot.at + oad_header_size) {
            slot.bytes.reset();
            continue;
        }
        const u64 body_start = slot.at + oad_header_size;
        const u64 n = size - body_start;
        if (n == 0) {
            slot.body_crc = crc32_jamcrc::finish(crc32_jamcrc::start());
            continue;
        }
        slot.body_crc = crc32_jamcrc::finish(crc32_jamcrc::shift(crc32_jamcrc::start(), n) ^ running_ ^
                                             crc32_jamcrc::shift(crc_[i], n));
    }
    sample_.crcs = true;
    return sample_;
}

image_encoding classify_encoding(std::span<const std::uint8_t> head, std::vector<rejection>& tried) {
    const encoding_info* fallback = nullptr;
    for (const encoding_info& e : encodings()) {
        if (e.looks_like == nullptr) {
            if (fallback == nullptr) fallback = &e;
            continue;
        }
        if (e.looks_like(head)) return e.what;
        rejection r;
        r.what = rejection::candidate::encoding;
        r.encoding = e.what;
        r.why = head.empty() ? rejection::reason::empty : rejection::reason::not_encoding;
        tried.push_back(r);
    }
    return fallback != nullptr ? fallback->what : image_encoding::binary;
}

detection classify(const image_sample& sample, const kind_choice& choice, const merge_layout& layout) {
    const classifier c(sample, layout);
    detection d;
    d.image_size = sample.size;
    const auto as_flash = [&](bool padded) {
        d.recognised = true;
        d.kind = padded ? image_kind::padded_flash_crc : image_kind::flash_crc;
        d.flash = c.flash_layout(padded);
        return d;
    };
    const auto as_merged = [&] {
        d.recognised = true;
        d.kind = image_kind::merged;
        return d;
    };
    const auto as_role = [&](image_kind role) {
        d.recognised = true;
        d.kind = role;
        d.origin = role == image_kind::oad_stack ? layout.stack_at - oad_header_size
                                                 : layout.app_at - oad_header_size;
        return d;
    };
    const auto as_oad = [&] {
        d.needs_crcs = c.role_needs_crcs();
        return as_role(c.oad_role());
    };

    if (choice.family) {
        switch (*choice.family) {
            case kind_family::flash_crc: return as_flash(false);
            case kind_family::padded_flash_crc: return as_flash(true);
            case kind_family::flash_crc_any: return as_flash(c.reads_padded());
            case kind_family::oad: return as_oad();
            case kind_family::oad_stack: return as_role(image_kind::oad_stack);
            case kind_family::oad_app: return as_role(image_kind::oad_app);
            case kind_family::merged: return as_merged();
            case kind_family::merged_or_oad:
                if (c.merged(false)) return as_merged();
                if (c.oad(false)) return as_oad();
                if (c.merged(sample.crcs)) return as_merged();
                if (c.oad(sample.crcs)) return as_oad();
                d.needs_crcs = !sample.crcs;
                return as_merged();
        }
    }

    // Two headers that fit come first (a merged image's boot may itself be
    // a flash CRC image); then blocks that all check out, before one
    // header at 0, whose fields 0xFF data can imitate, where a run of good
    // CRC-16s does not come about by chance.
    if (c.merged(false)) return as_merged();
    const bool padded = c.reads_padded();
    if (c.flash_evidence(c.flash_layout(padded), true)) return as_flash(padded);
    if (c.oad(false)) return as_oad();
    if (c.flash_evidence(c.flash_layout(padded))) return as_flash(padded);
    if (c.flash_evidence(c.flash_layout(!padded))) return as_flash(!padded);
    if (sample.crcs) {
        if (c.merged(true)) return as_merged();
        if (c.oad(true)) return as_oad();
    }
    d.needs_crcs = !sample.crcs;
    c.reject_all(d.tried);
    return d;
}

}  // namespace velk
