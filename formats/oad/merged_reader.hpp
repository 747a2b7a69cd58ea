#pragma once
// Reading a merged image back, or an OAD image cut from one: the flash map
// (boot, fills, headers, stack, app, end padding), both headers checked
// against the bytes they cover, and, given the three images it was made
// from, every region compared with its input. An OAD image is the merged
// image from one of its headers on, so one reader serves all three: it is
// told at which merged offset the file starts (its origin).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "formats/core/compare.hpp"
#include "formats/core/findings.hpp"
#include "formats/oad/merge.hpp"
#include "formats/oad/header_reader.hpp"
#include "io/file.hpp"

namespace velk {

// One input of a merge, read from its first byte.
struct part_input {
    byte_source* data = nullptr;
    std::uint64_t length = 0;
};

// What the image is known to have been made of, when it is.
struct merged_expectations {
    std::optional<std::array<part_input, 3>> parts;  // boot, stack, app
    std::optional<oad_header> stack_header;  // as they were written
    std::optional<oad_header> app_header;
};

enum class map_region { boot, boot_fill, stack_header, stack, stack_fill, app_header, app, end_padding };

struct map_row {
    map_region region = map_region::boot;
    std::uint64_t offset = 0;      // in the file
    std::uint64_t length = 0;
    std::uint64_t not_erased = 0;  // fills and padding: bytes that are not 0xFF
};

struct merged_report {
    merge_layout layout;
    std::uint64_t origin = 0;  // merged offset of the file's first byte
    std::uint64_t size = 0;    // the file's length
    std::optional<oad_header_report> stack_header;  // when the file holds it
    std::optional<oad_header_report> app_header;
    std::vector<map_row> map;
    // The data regions end where the inputs say, not where the last byte
    // that is not 0xFF is.
    bool lengths_known = false;
};

// Checks a file of `size` bytes that is the merged image of `layout` from
// merged offset `origin` on (0: the merged image; stack_at - 16: the stack
// OAD image; app_at - 16: the app OAD image), fed to it in order in pieces
// of any size. The layout must pass check_layout.
class merged_checker {
public:
    merged_checker(const merge_layout& layout, std::uint64_t origin, std::uint64_t size,
                   problem_list& problems, const merged_expectations& expect = {});

    void feed(std::span<const std::uint8_t> bytes);
    merged_report finish();

private:
    struct fill_count {
        std::uint64_t not_erased = 0;
        std::uint64_t first = 0;
        std::uint8_t first_value = 0;
    };

    void piece(std::span<const std::uint8_t> bytes);
    void count_fill(fill_count& fill, std::span<const std::uint8_t> bytes);
    void report_header(std::optional<oad_header_report>& out, std::uint64_t at,
                       const std::array<std::uint8_t, oad_header_size>& bytes, std::uint32_t crc,
                       image_part part, const std::optional<oad_header>& written);
    void report_fill(const fill_count& fill, image_part part);

    merge_layout layout_;
    std::uint64_t origin_;
    std::uint64_t size_;
    problem_list& problems_;
    merged_expectations expect_;
    std::uint64_t stack_slot_;  // stack_at - 16
    std::uint64_t app_slot_;    // app_at - 16
    std::uint64_t at_;          // merged offset of the next byte
    std::array<std::uint64_t, 3> ends_{};  // with the inputs: where each part's data end
    std::vector<std::uint64_t> edges_;

    std::array<std::uint8_t, oad_header_size> stack_bytes_{};
    std::array<std::uint8_t, oad_header_size> app_bytes_{};
    std::uint32_t stack_crc_;
    std::uint32_t app_crc_;
    std::array<std::optional<std::uint64_t>, 3> last_data_{};  // last byte not 0xFF
    std::array<std::optional<stream_comparer>, 3> compare_;
    fill_count boot_fill_, stack_fill_, end_padding_;
};

}  // namespace velk
