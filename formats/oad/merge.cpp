#include "formats/oad/merge.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "formats/crc/crc.hpp"

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
// returns false to stop. Returns the input that could not be read in full
// (or grew: one byte more than planned is read to tell), or none, with the
// system's error in `error`. The inputs are read with positional reads,
// so that two threads may produce from the same Files at once.
template <class Sink>
merge_role produce(const merge_plan& plan, File& boot, File& stack, File& app, int& error,
                   Sink&& sink) {
    std::vector<std::uint8_t> buffer(merge_block);
    const auto copy = [&](File& in, u64 length) {
        u64 done = 0;
        while (done <= length) {
            const auto want = static_cast<std::size_t>(
                std::min<u64>(buffer.size(), length + 1 - done));
            const std::size_t got = in.read_at(done, std::span(buffer.data(), want), error);
            if (got == 0) break;
            done += got;
            if (done > length) return false;
            if (!sink(std::span<const std::uint8_t>(buffer.data(), got))) return true;
            if (got < want) break;
        }
        return done == length && error == 0;
    };
    const auto fill = [&](u64 count) {
        while (count != 0) {
            const auto n = static_cast<std::size_t>(std::min<u64>(count, erased.size()));
            if (!sink(std::span<const std::uint8_t>(erased.data(), n))) return;
            count -= n;
        }
    };
    if (!copy(boot, plan.boot_length)) return merge_role::boot;
    fill(plan.layout.stack_at - plan.boot_length);
    if (!copy(stack, plan.stack_length)) return merge_role::stack;
    fill(plan.layout.app_at - plan.layout.stack_at - plan.stack_length);
    if (!copy(app, plan.app_length)) return merge_role::app;
    fill(plan.end_padding());
    return merge_role::none;
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
          app_bytes_(encode_oad_header(headers.app)) {
        if (merged != nullptr) merged_.emplace(*merged, merge_block);
        if (stack_image != nullptr) stack_.emplace(*stack_image, merge_block);
        if (app_image != nullptr) app_.emplace(*app_image, merge_block);
    }

    bool put(std::span<const std::uint8_t> data) {
        while (!data.empty()) {
            const std::size_t n = piece_length(data.size());
            put_piece(substitute(data.first(n)));
            position_ += n;
            data = data.subspan(n);
        }
        return ok();
    }

    merge_role flush() {
        if (merged_ && !merged_->flush()) return merge_role::merged;
        if (stack_ && !stack_->flush()) return merge_role::stack_image;
        if (app_ && !app_->flush()) return merge_role::app_image;
        return merge_role::none;
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
    std::optional<BlockWriter> merged_;
    std::optional<BlockWriter> stack_;
    std::optional<BlockWriter> app_;
    u64 position_ = 0;
};

}  // namespace

u64 merge_plan::offset_of(merge_part part) const {
    switch (part) {
        case merge_part::boot: return 0;
        case merge_part::stack: return layout.stack_at;
        case merge_part::app: return layout.app_at;
    }
    return 0;
}

u64 merge_plan::length_of(merge_part part) const {
    switch (part) {
        case merge_part::boot: return boot_length;
        case merge_part::stack: return stack_length;
        case merge_part::app: return app_length;
    }
    return 0;
}

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

std::optional<layout_error> check_fit(const merge_layout& layout, merge_part part, u64 length,
                                      File& image) {
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
    const bool read = image.seek(header_at - at) &&
                      image.read(std::span(tail.data(), covered)) == covered && image.seek(0);
    const bool all_erased =
        read && std::all_of(tail.begin(), tail.begin() + covered, [](auto b) { return b == 0xFF; });
    if (all_erased) return std::nullopt;
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

// The File of the input a read failure names.
File& input_of(merge_role role, File& boot, File& stack, File& app) {
    return role == merge_role::boot ? boot : role == merge_role::stack ? stack : app;
}

bool is_input(merge_role role) {
    return role == merge_role::boot || role == merge_role::stack || role == merge_role::app;
}

}  // namespace

merge_result merge_images(const merge_plan& plan, const merge_header_fields& fields, File& boot,
                          File& stack, File& app, byte_sink* merged, byte_sink* stack_image,
                          byte_sink* app_image) {
    merge_result result;
    merge_crc_tracker tracker(plan.layout);
    int error = 0;
    result.failed = produce(plan, boot, stack, app, error, [&](std::span<const std::uint8_t> data) {
        tracker.track(data);
        return true;
    });
    if (result.failed == merge_role::none) {
        result.headers = tracker.finish(plan, fields);
        merge_outputs outputs(plan, result.headers, merged, stack_image, app_image);
        result.failed = produce(plan, boot, stack, app, error,
                                [&](std::span<const std::uint8_t> data) { return outputs.put(data); });
        if (result.failed == merge_role::none) result.failed = outputs.flush();
    }
    if (is_input(result.failed)) input_of(result.failed, boot, stack, app).record_error(error);
    return result;
}

merge_result merge_images_in_place(const merge_plan& plan, const merge_header_fields& fields,
                                   File& boot, File& stack, File& app, File& merged,
                                   File& stack_image, File& app_image) {
    // Zeros in the header slots until the headers are known.
    const merge_crc_tracker::headers placeholders{};

    // The two OAD images, on a thread of their own.
    int images_error = 0;
    merge_role images_failed = merge_role::none;
    const auto write_images = [&] {
        merge_outputs outputs(plan, placeholders, nullptr, &stack_image, &app_image);
        images_failed = produce(plan, boot, stack, app, images_error,
                                [&](std::span<const std::uint8_t> data) { return outputs.put(data); });
        if (images_failed == merge_role::none) images_failed = outputs.flush();
    };
    std::thread images;
    try {
        images = std::thread(write_images);
    } catch (const std::system_error&) {
        // No thread: they are written after the merged image instead.
    }

    // The merged image here, its CRCs taken on the way.
    merge_result result;
    merge_crc_tracker tracker(plan.layout);
    int merged_error = 0;
    {
        merge_outputs outputs(plan, placeholders, &merged, nullptr, nullptr);
        result.failed = produce(plan, boot, stack, app, merged_error, [&](std::span<const std::uint8_t> data) {
            tracker.track(data);
            return outputs.put(data);
        });
        if (result.failed == merge_role::none) result.failed = outputs.flush();
    }
    if (images.joinable()) {
        images.join();
    } else {
        write_images();
    }
    if (result.failed == merge_role::none) {
        result.failed = images_failed;
        merged_error = images_error;
    }
    if (is_input(result.failed)) input_of(result.failed, boot, stack, app).record_error(merged_error);
    if (result.failed != merge_role::none) return result;

    // The headers in their places.
    result.headers = tracker.finish(plan, fields);
    const auto stack_bytes = encode_oad_header(result.headers.stack);
    const auto app_bytes = encode_oad_header(result.headers.app);
    const struct {
        File* file;
        u64 at;
        const std::array<std::uint8_t, oad_header_size>* bytes;
        merge_role role;
    } headers[] = {
        {&merged, plan.stack_header_at(), &stack_bytes, merge_role::merged},
        {&merged, plan.app_header_at(), &app_bytes, merge_role::merged},
        {&stack_image, 0, &stack_bytes, merge_role::stack_image},
        {&stack_image, plan.app_header_at() - plan.stack_header_at(), &app_bytes, merge_role::stack_image},
        {&app_image, 0, &app_bytes, merge_role::app_image},
    };
    for (const auto& h : headers) {
        int error = 0;
        if (!h.file->write_at(h.at, *h.bytes, error)) {
            h.file->record_error(error);
            result.failed = h.role;
            return result;
        }
    }
    return result;
}

}  // namespace velk
