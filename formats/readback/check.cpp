#include "formats/readback/check.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "formats/flash_crc/twin_reader.hpp"

namespace velk {
namespace {

using u64 = std::uint64_t;

// Read a piece at a time: whole flash CRC blocks, about 64 KiB, which
// stay in the cache between the read and the checks.
constexpr std::size_t piece_bytes = block_bytes * 1928;

// The image a file holds, from its first byte: the file's own bytes, or
// what decoding its text gives.
class decoded_image {
public:
    decoded_image(const random_source& file, image_encoding encoding, problem_list& problems,
                  const intel_hex_read_options& hex)
        : text_(file), reader_(encoding_of(encoding).reader(text_, problems, hex)) {}
    byte_source& source() { return reader_->source(); }
    std::optional<intel_hex_summary> hex_summary() const { return reader_->hex_summary(); }
    std::optional<srec_summary> srec_summary_of() const { return reader_->srec_record_summary(); }
    std::optional<std::uint64_t> first_address() const { return reader_->first_address(); }

private:
    source_reader text_;
    std::unique_ptr<encoding_reader> reader_;
};

// Reads `source` to its end, handing each piece to `feed`; false when a
// read failed.
template <class Feed>
bool stream(byte_source& source, Feed&& feed) {
    std::vector<std::uint8_t> buffer(piece_bytes);
    for (;;) {
        const std::size_t got = source.read(buffer);
        if (got != 0) feed(std::span<const std::uint8_t>(buffer.data(), got));
        if (got < buffer.size()) return !source.error();
    }
}

// Reads `file` from `at` into `out`; false unless every byte came.
bool read_at(const random_source& file, u64 at, std::span<std::uint8_t> out) {
    return static_cast<bool>(file.read_at(at, out));
}

// The sample of a raw image by a few reads, without the slots' CRCs.
std::optional<image_sample> sample_by_seeking(const random_source& file, u64 size, const merge_layout& layout) {
    image_sample s;
    s.size = size;
    s.head.resize(static_cast<std::size_t>(std::min<u64>(size, image_sample::head_bytes)));
    s.tail.resize(static_cast<std::size_t>(std::min<u64>(size, layout_tail_bytes)));
    if (!read_at(file, 0, s.head) || !read_at(file, size - s.tail.size(), s.tail)) return std::nullopt;
    const std::array<u64, 4> at = slot_offsets(layout);
    for (std::size_t i = 0; i < at.size(); ++i) {
        s.slots[i].at = at[i];
        if (size < at[i] + oad_header_size) continue;
        std::array<std::uint8_t, oad_header_size> bytes{};
        if (!read_at(file, at[i], bytes)) return std::nullopt;
        s.slots[i].bytes = bytes;
    }
    return s;
}

// The full sample, CRCs included, from one pass over the decoded image;
// the address of its first data record goes to `first_address`.
std::optional<image_sample> sample_by_reading(const random_source& file, image_encoding encoding, const read_options& options,
                                              std::optional<u64>& first_address) {
    problem_list scratch;  // the check pass reports the decoding's problems
    decoded_image image(file, encoding, scratch, options.hex);
    image_sampler sampler(options.layout);
    if (!stream(image.source(), [&](std::span<const std::uint8_t> b) { sampler.feed(b); })) {
        return std::nullopt;
    }
    first_address = image.first_address();
    return sampler.finish();
}

// What the file shows in `encoding` read with `options`; nothing when it
// could not be read.
std::optional<detection> classify_file(const random_source& file, u64 size, image_encoding encoding, const read_options& options,
                                       std::optional<u64>& first_address) {
    std::optional<image_sample> sample = encoding == image_encoding::binary
                                             ? sample_by_seeking(file, size, options.layout)
                                             : sample_by_reading(file, encoding, options, first_address);
    if (!sample) return std::nullopt;
    detection d = classify(*sample, options.choice, options.layout);
    if (d.needs_crcs) {
        sample = sample_by_reading(file, encoding, options, first_address);
        if (!sample) return std::nullopt;
        d = classify(*sample, options.choice, options.layout);
    }
    return d;
}

// Records that leave out leading 0xFF bytes put the first data record
// past the image's start: the default base, the record's 64 KiB page,
// fits an image at the start of a page, and the record's own address one
// whose first bytes are not 0xFF. The base whose image the content shows
// as a kind velk reads is taken, whatever kind the caller insists on;
// when neither does, `d` keeps the page's and says which bases were
// tried. False when the file could not be read.
bool settle_base(const random_source& file, u64 size, image_encoding encoding, const read_options& options, u64 first_address,
                 detection& d) {
    const u64 page = first_address & ~u64{0xFFFF};
    read_options by_content = options;
    by_content.choice.family.reset();
    std::optional<u64> unused;
    if (options.choice.family) {
        const std::optional<detection> at_page = classify_file(file, size, encoding, by_content, unused);
        if (!at_page) return false;
        if (at_page->recognised) return true;
    } else if (d.recognised) {
        return true;
    }
    if (first_address != page) {
        read_options at_record = by_content;
        at_record.hex.base = static_cast<std::uint32_t>(first_address);
        std::optional<detection> there = classify_file(file, size, encoding, at_record, unused);
        if (!there) return false;
        if (there->recognised) {
            if (options.choice.family) {
                at_record.choice.family = options.choice.family;
                there = classify_file(file, size, encoding, at_record, unused);
                if (!there) return false;
            }
            d = *there;
            d.base = at_record.hex.base;
            return true;
        }
    }
    if (!d.recognised) {
        d.bases_tried = {page};
        if (first_address != page) d.bases_tried.push_back(first_address);
    }
    return true;
}

class fan_out final : public byte_sink {
public:
    fan_out(byte_sink* a, byte_sink* b) : sinks_{a, b} {}
    bool write(std::span<const std::uint8_t> bytes) override {
        bool ok = true;
        for (byte_sink* sink : sinks_) {
            if (sink != nullptr && !sink->write(bytes)) ok = false;
        }
        return ok;
    }

private:
    std::array<byte_sink*, 2> sinks_;
};

void add_comparison(problem_list& problems, const comparison& c, image_part part) {
    problem p;
    p.part = part;
    if (c.read_failed) {
        p.what = check::read_error;
        p.offset = c.expected_length;
        problems.add(p);
    }
    if (c.first) {
        p.what = check::data_differs;
        p.offset = *c.first;
        p.stored = c.first_actual;
        p.computed = c.first_expected;
        p.count = c.differing;
        problems.add(p);
    }
    if (c.actual_length != c.expected_length) {
        p.what = check::length_differs;
        p.offset = 0;
        p.stored = c.actual_length;
        p.computed = c.expected_length;
        p.count = 0;
        problems.add(p);
    }
}

bool is_flash(image_kind kind) {
    return kind == image_kind::flash_crc || kind == image_kind::padded_flash_crc;
}

}  // namespace

detection detect_image(const random_source& file, const read_options& options) {
    detection failed;
    failed.read_failed = true;
    const std::optional<u64> size = file.size();
    failed.file_size = *size;
    std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<u64>(*size, image_sample::head_bytes)));
    if (!read_at(file, 0, head)) return failed;

    std::vector<rejection> tried;
    const image_encoding encoding =
        options.choice.encoding ? *options.choice.encoding : classify_encoding(head, tried);
    std::optional<u64> first_address;
    std::optional<detection> found = classify_file(file, *size, encoding, options, first_address);
    if (!found) return failed;
    detection& d = *found;
    if (!options.hex.base && first_address && carries_addresses(encoding_of(encoding)) &&
        !settle_base(file, *size, encoding, options, *first_address, d)) {
        return failed;
    }
    d.encoding = encoding;
    d.file_size = *size;
    d.tried.insert(d.tried.begin(), tried.begin(), tried.end());
    return d;
}

image_report check_image(const random_source& file, const detection& found, const read_options& options,
                         const check_request& request) {
    image_report r;
    r.found = found;
    problem read_error;
    read_error.what = check::read_error;
    intel_hex_read_options at_base = options.hex;
    if (found.base) at_base.base = found.base;
    decoded_image image(file, found.encoding, r.problems, at_base);
    const bool flash = is_flash(found.kind);

    // The twin spells the blocks: all of a plain image, a padded image
    // without its padding.
    std::optional<source_reader> twin_file;
    std::optional<twin_source> twin_text;
    std::optional<stream_comparer> twin;
    const u64 twin_end = found.kind == image_kind::padded_flash_crc ? found.flash.blocks_end() : found.image_size;
    if (flash && request.twin != nullptr) {
        twin_file.emplace(*request.twin);
        twin_text.emplace(*twin_file, r.problems, image_part::twin);
        twin.emplace(*twin_text);
    }

    u64 at = 0;
    const auto feed_twin = [&](std::span<const std::uint8_t> bytes) {
        if (twin && at < twin_end) {
            twin->write(bytes.first(static_cast<std::size_t>(std::min<u64>(bytes.size(), twin_end - at))));
        }
        at += bytes.size();
    };

    bool read_ok = true;
    if (flash) {
        std::optional<erased_to_multiple> raw;
        std::optional<stream_comparer> against;
        if (request.against_raw != nullptr) {
            raw.emplace(*request.against_raw, block_data_bytes);
            against.emplace(*raw);
        }
        fan_out data(against ? &*against : nullptr, request.data);
        const bool wants_data = against || request.data != nullptr;
        flash_crc_checker checker(found.flash, r.problems, request.keys, wants_data ? &data : nullptr);
        read_ok = stream(image.source(), [&](std::span<const std::uint8_t> bytes) {
            checker.feed(bytes);
            feed_twin(bytes);
        });
        r.data_failed = !checker.finish();
        r.flash = flash_crc_findings{checker.bad_blocks(), checker.padding_not_erased()};
        if (against) {
            r.against_raw = against->finish();
            add_comparison(r.problems, *r.against_raw, image_part::raw);
        }
    } else {
        merged_checker checker(options.layout, found.origin, found.image_size, r.problems, request.expect);
        read_ok = stream(image.source(), [&](std::span<const std::uint8_t> bytes) {
            checker.feed(bytes);
            feed_twin(bytes);
        });
        r.merged = checker.finish();
    }
    if (!read_ok || at != found.image_size) {
        read_error.offset = at;
        r.problems.add(read_error);
    }
    if (twin) {
        r.twin = twin->finish();
        const comparison& c = *r.twin;
        const u64 common = std::min(c.actual_length, c.expected_length);
        if (c.first && *c.first < common) {
            problem p;
            p.what = check::twin_differs;
            p.part = image_part::twin;
            p.offset = *c.first;
            p.count = c.differing - (std::max(c.actual_length, c.expected_length) - common);
            r.problems.add(p);
        }
        if (c.actual_length != c.expected_length) {
            problem p;
            p.what = check::twin_length;
            p.part = image_part::twin;
            p.stored = c.expected_length;
            p.computed = c.actual_length;
            r.problems.add(p);
        }
        if (c.read_failed) {
            read_error.part = image_part::twin;
            r.problems.add(read_error);
        }
    }
    r.hex = image.hex_summary();
    r.srec = image.srec_summary_of();
    return r;
}

}  // namespace velk
