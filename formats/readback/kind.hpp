#pragma once
// Telling what kind of image a file is from its content, never its name:
// its encoding (raw bytes, Intel HEX, or a text twin) and the image inside
// (flash CRC image, plain or padded; OAD image of the stack or the app;
// merged image). Recognition looks at a few places in the image (its first
// and last bytes, the header slots of the layout) and, only when those do
// not settle it, at the CRC-32 of what follows each header slot. What was
// tried, and why each kind did not fit, is kept for the caller to report.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "formats/encoding/encoding.hpp"
#include "formats/flash_crc/reader.hpp"
#include "formats/intel_hex/reader.hpp"
#include "formats/oad/merge.hpp"
#include "io/file.hpp"

namespace velk {

enum class image_kind {
    flash_crc,         // 34-byte blocks
    padded_flash_crc,  // blocks, then 1 to 256 bytes of 0xFF up to a multiple of 256
    merged,            // boot, stack and app with two OAD headers
    oad_stack,         // the merged image from the stack header on
    oad_app,           // the merged image from the app header on
};

// Kinds a caller may insist on. `flash_crc_any`, `oad` and `merged_or_oad`
// leave the choice within them to the content.
enum class kind_family {
    flash_crc,
    padded_flash_crc,
    flash_crc_any,
    oad,
    oad_stack,
    oad_app,
    merged,
    merged_or_oad,
};

struct kind_choice {
    std::optional<image_encoding> encoding;  // read the file in this encoding
    std::optional<kind_family> family;       // read the image as this, whatever the evidence
};

// One kind that was tried and did not fit, and why.
struct rejection {
    enum class candidate { encoding, merged, oad, padded_flash_crc, flash_crc };
    enum class reason {
        not_encoding,   // encoding: its content test failed on the first bytes
        too_short,      // needed: the length the kind needs at least
        no_header,      // offset, offset2: where the headers belong; none fits the image
        not_multiple,   // padded: the length is not a multiple of 256
        not_erased_end, // padded: the last byte is not 0xFF
        block_crcs,     // good of checked blocks have a good CRC-16
        empty,          // nothing to read
    };
    candidate what = candidate::flash_crc;
    image_encoding encoding = image_encoding::binary;  // the encoding tried, for candidate::encoding
    reason why = reason::empty;
    std::uint64_t offset = 0;
    std::uint64_t offset2 = 0;
    std::uint64_t needed = 0;
    std::uint64_t good = 0;
    std::uint64_t checked = 0;
};

// What a few reads of an image show.
struct image_sample {
    static constexpr std::size_t head_bytes = 4096;

    struct slot {
        std::uint64_t at = 0;  // where a header may be
        std::optional<std::array<std::uint8_t, oad_header_size>> bytes;  // when the image reaches that far
        std::optional<std::uint32_t> body_crc;  // CRC-32 of everything after it, once computed
    };

    std::uint64_t size = 0;
    std::vector<std::uint8_t> head;  // the first min(size, head_bytes) bytes
    std::vector<std::uint8_t> tail;  // the last min(size, layout_tail_bytes) bytes
    // Header slots: 0 (an OAD image), stack_at - 16 and app_at - 16 (a
    // merged image), app_at - stack_at (the app header in a stack OAD image).
    std::array<slot, 4> slots;
    bool crcs = false;  // every slot's body_crc has been computed
};

// The slots' offsets for `layout`, in the order of image_sample::slots.
std::array<std::uint64_t, 4> slot_offsets(const merge_layout& layout);

// Collects a sample from a stream of the image, read from its first byte
// to its end, CRCs included.
class image_sampler {
public:
    explicit image_sampler(const merge_layout& layout);
    void feed(std::span<const std::uint8_t> bytes);
    image_sample finish();

private:
    image_sample sample_;
    std::uint32_t running_;
    std::array<std::uint32_t, 4> crc_{};  // the running register where each slot's body begins
    std::vector<std::uint8_t> ring_;  // the last bytes, as a ring
    std::size_t ring_at_ = 0;
};

struct detection {
    bool recognised = false;
    bool read_failed = false;      // the file could not be read to its end
    std::uint64_t file_size = 0;
    image_encoding encoding = image_encoding::binary;
    image_kind kind = image_kind::flash_crc;
    std::uint64_t image_size = 0;  // the image's length (decoded, for Intel HEX and twins)
    flash_crc_layout flash;        // for the flash CRC kinds
    std::uint64_t origin = 0;      // merged offset of the image's first byte (OAD images)
    std::vector<rejection> tried;  // when not recognised: every kind tried
    // For an encoding that carries addresses, read without a base given:
    // the base the image was recognised at when it was not the default
    // (the 64 KiB page of the first data record) but that record's own
    // address; when not recognised, the bases tried (the page's, then the
    // record's when it differs), either of which may be wrong when the
    // image begins with 0xFF bytes the records leave out.
    std::optional<std::uint32_t> base;
    std::vector<std::uint64_t> bases_tried;
    // The slots' CRCs could change the outcome: sample again with them.
    bool needs_crcs = false;
};

// The kind of image `sample` shows, within what `choice` allows. Without
// the slots' CRCs, a kind that would need them to be told is left
// unrecognised; with them, the decision is final.
detection classify(const image_sample& sample, const kind_choice& choice, const merge_layout& layout);

// The encoding the first bytes of a file show: the first in the encoding
// table whose content test they pass, or the one without a test. The
// rejections of the encodings tried go to `tried`.
image_encoding classify_encoding(std::span<const std::uint8_t> head, std::vector<rejection>& tried);

}  // namespace velk
