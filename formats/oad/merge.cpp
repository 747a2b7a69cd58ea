#include "formats/oad/merge.hpp"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <new>
#include <array>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "formats/core/erased.hpp"
#include "formats/crc/crc.hpp"
#include "io/file.hpp"

namespace velk {
namespace {

using u64 = std::uint64_t;

// The merge copies each piece it reads into up to three writers, so what
// it touches is four of these blocks: at 256 KiB they stay in the cache
// between being filled and being written, where at 1 MiB they did not and
// the same merge took half as long again.
constexpr std::size_t merge_block = std::size_t{1} << 18;

// Feeds the part of data that lands in [begin, end) of the image, given
// that data starts at offset `at`.
std::uint32_t crc_of_range(std::uint32_t reg, std::span<const std::uint8_t> data, u64 at,
                           u64 begin, u64 end) {
    const u64 from = std::max(at, begin);
    const u64 to = std::min(at + data.size(), end);
    if (from >= to) return reg;
    return crc32_jamcrc::update(reg, data.subspan(static_cast<std::size_t>(from - at),
                                                  static_cast<std::size_t>(to - from)));
}

constexpr std::array<std::uint8_t, 4096> erased = [] {
    std::array<std::uint8_t, 4096> a{};
    a.fill(0xFF);
    return a;
}();

// Produces the merged image's bytes in order, with the header slots as the
// images and the fill leave them, and hands each piece to `sink`, which
// returns false to stop. The inputs are read by offset, so that two
// threads may produce from the same inputs at once; one that cannot be
// read in full, or has grown since it was measured (a byte past its
// length can be read), is a read fault.
template <class Sink>
status produce(const merge_plan& plan, const merge_inputs& in, Sink&& sink) {
    std::vector<std::uint8_t> buffer(merge_block);
    const auto copy = [&](const random_source& from, u64 length, role who) -> status {
        for (u64 done = 0; done < length;) {
            const auto n = static_cast<std::size_t>(std::min<u64>(buffer.size(), length - done));
            if (status s = from.read_at(done, std::span(buffer.data(), n)); !s) return s.error().of(who);
            if (!sink(std::span<const std::uint8_t>(buffer.data(), n))) return {};
            done += n;
        }
        std::uint8_t past = 0;
        if (from.read_at(length, std::span(&past, 1))) return read_fault(who, 0, length);
        return {};
    };
    const auto fill = [&](u64 count) {
        while (count != 0) {
            const auto n = static_cast<std::size_t>(std::min<u64>(count, erased.size()));
            if (!sink(std::span<const std::uint8_t>(erased.data(), n))) return;
            count -= n;
        }
    };
    if (status s = copy(in.boot, plan.boot_length, role::boot); !s) return s;
    fill(plan.layout.stack_at - plan.boot_length);
    if (status s = copy(in.stack, plan.stack_length, role::stack); !s) return s;
    fill(plan.layout.app_at - plan.layout.stack_at - plan.stack_length);
    if (status s = copy(in.app, plan.app_length, role::app); !s) return s;
    fill(plan.end_padding());
    return {};
}

// The three outputs of a merge fed from one stream of the merged image:
// the header slots replaced by the headers, and each OAD image starting at
// its header.
class merge_outputs {
public:
    merge_outputs(const merge_plan& plan, const merge_crc_tracker::headers& headers, byte_sink* merged,
                  byte_sink* stack_image, byte_sink* app_image)
        : stack_slot_(plan.stack_header_at()),
          app_slot_(plan.app_header_at()),
          stack_bytes_(encode_oad_header(headers.stack)),
          app_bytes_(encode_oad_header(headers.app)),
          merged_sink_(merged),
          stack_sink_(stack_image),
          app_sink_(app_image) {
        if (merged != nullptr) merged_.emplace(*merged, merge_block);
        if (stack_image != nullptr) stack_.emplace(*stack_image, merge_block);
        if (app_image != nullptr) app_.emplace(*app_image, merge_block);
    }
    merge_outputs(const merge_outputs&) = delete;
    merge_outputs& operator=(const merge_outputs&) = delete;

    bool put(std::span<const std::uint8_t> data) {
        while (!data.empty()) {
            const std::size_t n = piece_length(data.size());
            put_piece(substitute(data.first(n)));
            position_ += n;
            data = data.subspan(n);
        }
        return ok();
    }

    // Flushes every writer; the first that failed, as a write fault.
    status flush() {
        const struct {
            std::optional<BlockWriter>* writer;
            byte_sink* sink;
            role who;
        } outs[] = {{&merged_, merged_sink_, role::merged},
                    {&stack_, stack_sink_, role::stack_image},
                    {&app_, app_sink_, role::app_image}};
        for (const auto& o : outs) {
            if (*o.writer && !(*o.writer)->flush()) return write_fault(o.who, o.sink->error_number());
        }
        return {};
    }

private:
    bool ok() const {
        return (!merged_ || merged_->ok()) && (!stack_ || stack_->ok()) && (!app_ || app_->ok());
    }

    // Up to the next place where a header slot starts or ends.
    std::size_t piece_length(std::size_t available) const {
        u64 end = position_ + available;
        for (const u64 edge : {stack_slot_, stack_slot_ + oad_header_size, app_slot_,
                               app_slot_ + oad_header_size}) {
            if (edge > position_ && edge < end) end = edge;
        }
        return static_cast<std::size_t>(end - position_);
    }

    std::span<const std::uint8_t> substitute(std::span<const std::uint8_t> piece) const {
        for (const auto& [slot, bytes] : {std::pair{stack_slot_, &stack_bytes_},
                                          std::pair{app_slot_, &app_bytes_}}) {
            if (position_ >= slot && position_ < slot + oad_header_size) {
                return std::span<const std::uint8_t>(*bytes).subspan(
                    static_cast<std::size_t>(position_ - slot), piece.size());
            }
        }
        return piece;
    }

    void put_piece(std::span<const std::uint8_t> piece) {
        if (merged_) merged_->put(piece);
        if (stack_ && position_ >= stack_slot_) stack_->put(piece);
        if (app_ && position_ >= app_slot_) app_->put(piece);
    }

    u64 stack_slot_;
    u64 app_slot_;
    std::array<std::uint8_t, oad_header_size> stack_bytes_;
    std::array<std::uint8_t, oad_header_size> app_bytes_;
    byte_sink* merged_sink_;
    byte_sink* stack_sink_;
    byte_sink* app_sink_;
    std::optional<BlockWriter> merged_;
    std::optional<BlockWriter> stack_;
    std::optional<BlockWriter> app_;
    u64 position_ = 0;
};

}  // namespace

std::optional<layout_error> check_layout(const merge_layout& layout) {
    layout_error e;
    if (layout.stack_at < oad_header_size) {
        e.what = layout_error::kind::no_stack_header_room;
        e.at = layout.stack_at;
        return e;
    }
    if (layout.app_at < layout.stack_at + oad_header_size) {
        e.what = layout_error::kind::no_app_header_room;
        e.at = layout.app_at;
        return e;
    }
    return std::nullopt;
}

std::optional<layout_error> check_fit(const merge_layout& layout, merge_part part,
                                      const random_source& image) {
    assert(!check_layout(layout));
    const u64 length = image.size();
    using obstacle = layout_error::obstacle;
    const bool boot = part == merge_part::boot;
    const u64 at = boot ? 0 : layout.stack_at;
    const u64 header_at = (boot ? layout.stack_at : layout.app_at) - oad_header_size;
    const u64 end = at + length;
    const u64 slot_end = header_at + oad_header_size;

    layout_error e;
    e.part = part;
    e.part_length = length;
    if (end > slot_end) {
        e.into = boot ? obstacle::stack_image : obstacle::app_image;
        e.at = slot_end;
        return e;
    }
    if (end <= header_at) return std::nullopt;

    std::array<std::uint8_t, oad_header_size> tail{};
    const auto covered = static_cast<std::size_t>(end - header_at);
    const bool read = static_cast<bool>(image.read_at(header_at - at, std::span(tail.data(), covered)));
    if (read && all_erased(std::span(tail).first(covered))) return std::nullopt;
    e.into = boot ? obstacle::stack_header : obstacle::app_header;
    e.at = header_at;
    return e;
}

merge_crc_tracker::merge_crc_tracker(const merge_layout& layout)
    : layout_(layout), stack_prefix_(crc32_jamcrc::start()) {}

void merge_crc_tracker::track(std::span<const std::uint8_t> data) {
    stack_prefix_ = crc_of_range(stack_prefix_, data, position_, layout_.stack_at,
                                 layout_.app_at - oad_header_size);
    app_body_from_zero_ = crc_of_range(app_body_from_zero_, data, position_, layout_.app_at, UINT64_MAX);
    position_ += data.size();
}

merge_crc_tracker::headers merge_crc_tracker::finish(const merge_plan& plan,
                                                     const merge_header_fields& fields) const {
    const u64 app_body = plan.app_image_length() - oad_header_size;
    const std::uint32_t app_crc = crc32_jamcrc::finish(
        crc32_jamcrc::shift(crc32_jamcrc::start(), app_body) ^ app_body_from_zero_);
    headers h;
    h.app = make_oad_header(app_crc, app_body, fields.version, fields.app_uid, fields.rom_version);

    // The stack body runs through the finished app header into the app body.
    const std::uint32_t through_header =
        crc32_jamcrc::update(stack_prefix_, encode_oad_header(h.app));
    const std::uint32_t stack_crc = crc32_jamcrc::finish(
        crc32_jamcrc::shift(through_header, app_body) ^ app_body_from_zero_);
    h.stack = make_oad_header(stack_crc, plan.stack_image_length() - oad_header_size,
                              fields.version, fields.stack_uid, fields.rom_version);
    return h;
}

namespace {

// Every output in order, from one stream of the merged image; the inputs
// are read twice: once for the header CRCs, once to write.
result<merge_headers> stream_merge(const merge_plan& plan, const merge_header_fields& fields,
                                   const merge_inputs& in, const merge_sinks& out) {
    merge_crc_tracker tracker(plan.layout);
    if (status s = produce(plan, in, [&](std::span<const std::uint8_t> data) {
            tracker.track(data);
            return true;
        });
        !s) {
        return s.error();
    }
    const merge_headers headers = tracker.finish(plan, fields);
    merge_outputs outputs(plan, headers, out.merged, out.stack_image, out.app_image);
    if (status s = produce(plan, in, [&](std::span<const std::uint8_t> data) { return outputs.put(data); }); !s) {
        return s.error();
    }
    if (status s = outputs.flush(); !s) return s.error();
    return headers;
}

// The three outputs written by offset: the merged image in order here with
// its CRCs taken on the way, the two OAD images on a second thread (three
// files, so their writes never wait for each other), zeros in the header
// slots until the headers, written last in their places, are known. The
// inputs are read once for each thread.
result<merge_headers> merge_in_place(const merge_plan& plan, const merge_header_fields& fields,
                                     const merge_inputs& in, random_sink& merged, random_sink& stack_image,
                                     random_sink& app_image) {
    const merge_headers placeholders{};

    ordered_writes stack_in_order(stack_image);
    ordered_writes app_in_order(app_image);
    status images_done;
    const auto write_images = [&]() noexcept {
        try {
            merge_outputs outputs(plan, placeholders, nullptr, &stack_in_order, &app_in_order);
            images_done = produce(plan, in, [&](std::span<const std::uint8_t> data) { return outputs.put(data); });
            if (images_done) images_done = outputs.flush();
        } catch (const std::bad_alloc&) {
            images_done = fault{fault_kind::memory, role::none, ENOMEM, std::nullopt};
        }
    };
    std::thread images;
    try {
        images = std::thread(write_images);
    } catch (const std::system_error&) {
        // No thread: they are written after the merged image instead.
    }

    merge_crc_tracker tracker(plan.layout);
    ordered_writes merged_in_order(merged);
    status merged_done;
    try {
        merge_outputs outputs(plan, placeholders, &merged_in_order, nullptr, nullptr);
        merged_done = produce(plan, in, [&](std::span<const std::uint8_t> data) {
            tracker.track(data);
            return outputs.put(data);
        });
        if (merged_done) merged_done = outputs.flush();
    } catch (const std::bad_alloc&) {
        merged_done = fault{fault_kind::memory, role::none, ENOMEM, std::nullopt};
    }
    if (images.joinable()) {
        images.join();
    } else {
        write_images();
    }
    if (!merged_done) return merged_done.error();
    if (!images_done) return images_done.error();

    const merge_headers headers = tracker.finish(plan, fields);
    const auto stack_bytes = encode_oad_header(headers.stack);
    const auto app_bytes = encode_oad_header(headers.app);
    const struct {
        random_sink* sink;
        u64 at;
        const std::array<std::uint8_t, oad_header_size>* bytes;
        role who;
    } slots[] = {
        {&merged, plan.stack_header_at(), &stack_bytes, role::merged},
        {&merged, plan.app_header_at(), &app_bytes, role::merged},
        {&stack_image, 0, &stack_bytes, role::stack_image},
        {&stack_image, plan.app_header_at() - plan.stack_header_at(), &app_bytes, role::stack_image},
        {&app_image, 0, &app_bytes, role::app_image},
    };
    for (const auto& slot : slots) {
        if (status s = slot.sink->write_at(slot.at, *slot.bytes); !s) return s.error().of(slot.who);
    }
    return headers;
}

}  // namespace

merge_plan merge_plan::of(const merge_layout& layout, const merge_inputs& in) {
    return merge_plan{layout, in.boot.size(), in.stack.size(), in.app.size()};
}

result<merge_headers> merge_images(const merge_plan& plan, const merge_header_fields& fields,
                                   const merge_inputs& in, const merge_sinks& out) {
    assert(!check_layout(plan.layout));
    assert(plan.boot_length <= plan.layout.stack_at && plan.layout.stack_at + plan.stack_length <= plan.layout.app_at);
    assert(plan.boot_length == in.boot.size() && plan.stack_length == in.stack.size() &&
           plan.app_length == in.app.size());
    random_sink* const merged = out.merged != nullptr ? out.merged->positional() : nullptr;
    random_sink* const stack_image = out.stack_image != nullptr ? out.stack_image->positional() : nullptr;
    random_sink* const app_image = out.app_image != nullptr ? out.app_image->positional() : nullptr;
    if (merged != nullptr && stack_image != nullptr && app_image != nullptr) {
        return merge_in_place(plan, fields, in, *merged, *stack_image, *app_image);
    }
    return stream_merge(plan, fields, in, out);
}

}  // namespace velk
