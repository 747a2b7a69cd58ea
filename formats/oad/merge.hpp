#pragma once
// The merged flash image: boot at 0, the stack at stack_at and the app at
// app_at, the gaps filled with erased flash (0xFF), an OAD header in the 16
// bytes before the stack and before the app, and 1 to 256 bytes of 0xFF at
// the end so that the stack-and-app region ends on a 256-byte boundary. The
// stack OAD image is the merged image from its header on, the app OAD image
// likewise; each header's CRC covers its image after the header.

#include <cstdint>
#include <optional>
#include <span>

#include "formats/oad/header.hpp"
#include "io/access.hpp"
#include "io/fault.hpp"

namespace velk {

struct merge_layout {
    std::uint64_t stack_at = 0x1F00;  // flash offset of the stack image
    std::uint64_t app_at = 0x25A80;   // flash offset of the app image
};

// What goes into both headers besides CRC and length.
struct merge_header_fields {
    std::uint32_t version = 0;  // headers keep its low 16 bits
    std::uint32_t stack_uid = 0x53535353;
    std::uint32_t app_uid = 0x42424242;
    std::uint16_t rom_version = 0xFFFF;
};

// The images of a merge, in flash order.
enum class merge_part { boot, stack, app };

// Why a layout cannot be merged.
struct layout_error {
    enum class kind {
        no_stack_header_room,  // stack_at < 16
        no_app_header_room,    // app_at < stack_at + 16
        runs_into,             // `part` (boot or stack) runs into what follows it
    };
    enum class obstacle { stack_header, stack_image, app_header, app_image };

    kind what = kind::runs_into;
    merge_part part = merge_part::boot;
    std::uint64_t part_length = 0;
    obstacle into = obstacle::stack_header;
    std::uint64_t at = 0;  // where the obstacle starts
};

// The three images a merge reads, each by offset with its size known.
struct merge_inputs {
    const random_source& boot;
    const random_source& stack;
    const random_source& app;
};

// A layout together with the lengths of the three images: every offset
// and length of the merged image follows from it. Every orchestration of
// a merge takes its numbers from here.
struct merge_plan {
    merge_layout layout;
    std::uint64_t boot_length = 0;
    std::uint64_t stack_length = 0;
    std::uint64_t app_length = 0;

    std::uint64_t stack_header_at() const { return layout.stack_at - oad_header_size; }
    std::uint64_t app_header_at() const { return layout.app_at - oad_header_size; }
    // Where the app's data end: the merged image before its end padding.
    std::uint64_t data_end() const { return layout.app_at + app_length; }
    std::uint64_t end_padding() const { return 256 - ((data_end() - stack_header_at()) & 0xFF); }
    std::uint64_t total_length() const { return data_end() + end_padding(); }
    std::uint64_t stack_image_length() const { return total_length() - stack_header_at(); }
    std::uint64_t app_image_length() const { return total_length() - app_header_at(); }

    static merge_plan of(const merge_layout& layout, const merge_inputs& in);
};

// Length from which a header's length_words no longer counts the image's
// words: it keeps their low 16 bits only.
inline constexpr std::uint64_t length_words_limit = std::uint64_t{0x10000} * 4;

// The first problem of a layout: room for both headers.
std::optional<layout_error> check_layout(const merge_layout& layout);

// The first problem of placing `part` (boot or stack) of `length` bytes:
// it must end before the header slot that follows it, and may reach into
// that slot only with erased bytes (0xFF), which the header then replaces;
// anything else would be firmware lost. Reads the part's bytes that lie in
// the slot from `image`; bytes that cannot be read count as not erased.
// The layout must have passed check_layout.
std::optional<layout_error> check_fit(const merge_layout& layout, merge_part part,
                                      const random_source& image);

// Follows the merged image as it is produced, in order from offset 0 with
// the header slots holding whatever the images or the fill put there, and
// keeps the two header CRCs running so that the headers are known at the
// end without reading the data again.
class merge_crc_tracker {
public:
    explicit merge_crc_tracker(const merge_layout& layout);

    void track(std::span<const std::uint8_t> data);
    std::uint64_t position() const { return position_; }

    struct headers {
        oad_header stack;
        oad_header app;
    };
    // The two headers, once the whole image of `plan` (end padding
    // included) has been tracked.
    headers finish(const merge_plan& plan, const merge_header_fields& fields) const;

private:
    merge_layout layout_;
    std::uint64_t position_ = 0;
    // The stack body up to the app header slot, and the app body from a
    // zero register (combined at the end with a shift).
    std::uint32_t stack_prefix_;
    std::uint32_t app_body_from_zero_ = 0;
};

using merge_headers = merge_crc_tracker::headers;

// Where a merge goes; any of the three may be absent.
struct merge_sinks {
    byte_sink* merged = nullptr;
    byte_sink* stack_image = nullptr;
    byte_sink* app_image = nullptr;
};

// Writes the merged image and the stack and app OAD images, without a
// working file, flushes them (closing them is the caller's) and returns
// the two headers written. When all three outputs can be written by
// offset, the inputs are read once for the merged image, its CRCs taken on
// the way, and once more on a second thread that writes the two OAD
// images meanwhile; the headers are written last into their slots, which
// hold zeros until then. Otherwise every output is written in order, the
// inputs read twice: once for the header CRCs, once to write. The same
// bytes either way. The plan's lengths are the inputs' sizes, and its
// layout has passed check_layout and both parts check_fit. A fault names
// the input or output by its role.
result<merge_headers> merge_images(const merge_plan& plan, const merge_header_fields& fields,
                                   const merge_inputs& in, const merge_sinks& out);

}  // namespace velk
