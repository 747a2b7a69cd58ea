// The merged-image reader against the merge. Boot, stack and app images
// cut from the input, merged by velk in a small layout, read back as the
// merged image and as the stack and app OAD images, with the inputs and
// the headers written, show no problem and a map in order; any bytes read
// as any window of any layout are checked without going past them.
//
// Input: two bytes of layout, three of lengths, one of piece size, one of
// origin, then the images' bytes.
#include <algorithm>
#include <cstdint>

#include "formats/oad/merge.hpp"
#include "formats/oad/merged_reader.hpp"
#include "readback_support.hpp"

using namespace velk;
using namespace velk::fuzz;

namespace {

merged_report read(const Bytes& file, const merge_layout& layout, std::uint64_t origin,
                   const merged_expectations& expect, std::size_t piece, problem_list& problems) {
    merged_checker checker(layout, origin, file.size(), problems, expect);
    for (std::size_t at = 0; at < file.size(); at += piece) {
        checker.feed(std::span(file).subspan(at, std::min(piece, file.size() - at)));
    }
    const merged_report r = checker.finish();
    std::uint64_t end = 0;
    for (const map_row& row : r.map) {
        require(row.offset >= end || row.length == 0);
        require(row.offset + row.length <= file.size());
        end = row.offset + row.length;
    }
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    cursor in(data, size);
    merge_layout layout;
    layout.stack_at = 16 + 16u * in.byte();
    layout.app_at = layout.stack_at + 16 + 16u * in.byte();
    const std::uint64_t boot_length = in.byte() * (layout.stack_at - 16) / 255;
    const std::uint64_t stack_length = in.byte() * (layout.app_at - layout.stack_at - 16) / 255;
    const std::uint64_t app_length = in.byte() * 16u;
    const std::size_t piece = 1 + in.byte();
    const std::uint8_t origin_choice = in.byte();

    const std::span<const std::uint8_t> boot_bytes = in.take(boot_length);
    const std::span<const std::uint8_t> stack_bytes = in.take(stack_length);
    const std::span<const std::uint8_t> app_bytes = in.take(app_length);
    const std::span<const std::uint8_t> rest = in.rest();

    // Any bytes, as any window.
    {
        const Bytes any(rest.begin(), rest.end());
        const std::uint64_t origins[] = {0, layout.stack_at - 16, layout.app_at - 16};
        problem_list problems;
        read(any, layout, origins[origin_choice % 3], {}, piece, problems);
    }

    const memory_source boot_data(boot_bytes), stack_data(stack_bytes), app_data(app_bytes);
    const merge_inputs inputs{boot_data, stack_data, app_data};
    const merge_plan plan = merge_plan::of(layout, inputs);
    const merge_header_fields fields{origin_choice, 0x53535353, 0x42424242, 0xFFFF};
    vector_sink merged, stack_image, app_image;
    const result<merge_headers> made = merge_images(plan, fields, inputs, {&merged, &stack_image, &app_image});
    require(static_cast<bool>(made));

    const std::pair<const Bytes*, std::uint64_t> outputs[] = {
        {&merged.data, 0}, {&stack_image.data, layout.stack_at - 16}, {&app_image.data, layout.app_at - 16}};
    for (const auto& [file, origin] : outputs) {
        memory_source boot(boot_bytes), stack(stack_bytes), app(app_bytes);
        merged_expectations expect;
        expect.parts = std::array<part_input, 3>{part_input{&boot, boot_bytes.size()},
                                                 part_input{&stack, stack_bytes.size()},
                                                 part_input{&app, app_bytes.size()}};
        expect.stack_header = made->stack;
        expect.app_header = made->app;
        problem_list problems;
        const merged_report r = read(*file, layout, origin, expect, piece, problems);
        require(problems.empty());
        require(r.app_header && r.app_header->crc_ok());
        require(r.stack_header.has_value() == (origin == 0 || origin == layout.stack_at - 16));
    }
    return 0;
}
