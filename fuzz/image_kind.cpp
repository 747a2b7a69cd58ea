// Kind detection and the whole read-back of any file: whatever the bytes,
// detection says what it tried or what the file is, and checking a file
// of the kind found (or forced) stays inside the file, keeps its problem
// list bounded and its flash map in order.
//
// Input: two bytes choose a small layout (or, with the third byte's top
// bit, the default one), the third may force a kind; the rest is the file.
#include <cstdint>

#include "formats/readback/check.hpp"
#include "readback_support.hpp"

using namespace velk;
using namespace velk::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    cursor in(data, size);
    const std::uint8_t a = in.byte();
    const std::uint8_t b = in.byte();
    const std::uint8_t choice = in.byte();
    read_options options;
    if ((choice & 0x80) == 0) {
        options.layout.stack_at = 16 + 16u * a;
        options.layout.app_at = options.layout.stack_at + 16 + 16u * b;
    }
    options.hex.max_length = std::uint64_t{1} << 20;  // so that no input decodes for long
    constexpr kind_family families[] = {kind_family::flash_crc, kind_family::padded_flash_crc,
                                        kind_family::flash_crc_any, kind_family::oad,
                                        kind_family::oad_stack, kind_family::oad_app,
                                        kind_family::merged, kind_family::merged_or_oad};
    if ((choice & 1) != 0) options.choice.family = families[(choice >> 1) % 8];
    if ((choice & 0x70) == 0x10) options.choice.encoding = image_encoding::intel_hex;
    if ((choice & 0x70) == 0x20) options.choice.encoding = image_encoding::text_twin;

    const std::span<const std::uint8_t> bytes = in.rest();
    memory_source file(bytes);
    const detection d = detect_image(file, options);
    require(!d.read_failed);
    require(d.file_size == bytes.size());
    if (!d.recognised) {
        require(!d.tried.empty() && !options.choice.family);
        return 0;
    }
    if (d.encoding == image_encoding::binary) require(d.image_size == bytes.size());
    const bool flash = d.kind == image_kind::flash_crc || d.kind == image_kind::padded_flash_crc;
    if (flash) require(d.flash.size == d.image_size && d.flash.blocks_end() <= d.image_size);

    // The same file is the same kind every time.
    const detection again = detect_image(file, options);
    require(again.kind == d.kind && again.encoding == d.encoding && again.image_size == d.image_size);

    const image_report r = check_image(file, d, options);
    require(r.problems.kept().size() <= problem_list::kept_per_check * check_count);
    require(r.problems.total(check::read_error) == 0);
    if (flash) {
        require(r.flash && r.flash->bad_blocks <= d.flash.blocks);
        require(r.flash->bad_blocks == r.problems.total(check::block_crc));
    } else {
        require(r.merged.has_value());
        std::uint64_t end = 0;
        for (const map_row& row : r.merged->map) {
            require(row.offset >= end || row.length == 0);
            require(row.offset + row.length <= d.image_size);
            end = row.offset + row.length;
        }
    }
    return 0;
}
