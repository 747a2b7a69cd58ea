// The flash CRC reader against the writer. Any input, encoded with any
// keys (and padded as velk single pads it), reads back to the input filled
// with 0xFF to its last block, with no problem and the blocks found where
// they end; one damaged byte anywhere is always a problem (a CRC-16 sees
// every error of one byte; the padding must be 0xFF). Any bytes read as an
// image, plain or padded, are checked without going past them.
//
// Input: 16 bytes of keys, a flags byte, two bytes of the damaged offset,
// then the raw image (at most 64 KiB).
#include <algorithm>
#include <cstdint>

#include "formats/flash_crc/writer.hpp"
#include "formats/flash_crc/reader.hpp"
#include "readback_support.hpp"

using namespace velk;
using namespace velk::fuzz;

namespace {

flash_crc_layout layout_of(const Bytes& image, bool padded) {
    const std::size_t keep = std::min(image.size(), layout_tail_bytes);
    const std::span<const std::uint8_t> tail(image.data() + image.size() - keep, keep);
    return padded ? padded_flash_layout(image.size(), tail) : plain_flash_layout(image.size());
}

std::uint64_t problems_in(const Bytes& image, const flash_crc_layout& layout, const scramble_keys& keys,
                    vector_sink* data, std::size_t piece) {
    problem_list problems;
    flash_crc_checker checker(layout, problems, keys, data);
    for (std::size_t at = 0; at < image.size(); at += piece) {
        checker.feed(std::span(image).subspan(at, std::min(piece, image.size() - at)));
    }
    require(checker.finish());
    require(checker.bad_blocks() <= layout.blocks);
    return problems.total();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    cursor in(data, size);
    scramble_keys keys;
    keys.key1 = in.word();
    keys.key2 = in.word();
    keys.key3 = in.word();
    keys.control = in.word();
    const std::uint8_t flags = in.byte();
    const std::size_t damage_at = std::size_t{in.byte()} << 8 | in.byte();
    const bool padded = (flags & 1) != 0;
    const std::size_t piece = 1 + (flags >> 1);
    const std::span<const std::uint8_t> raw = in.take(std::size_t{1} << 16);

    // Any bytes as an image.
    const Bytes as_image(raw.begin(), raw.end());
    problems_in(as_image, plain_flash_layout(as_image.size()), keys, nullptr, piece);
    problems_in(as_image, layout_of(as_image, true), keys, nullptr, piece);

    memory_source input(raw);
    vector_sink image;
    require(static_cast<bool>(encode_flash_crc(input, {keys, false}, {image, nullptr})));
    if (padded) image.data.resize(image.data.size() + 256 - image.data.size() % 256, 0xFF);

    const flash_crc_layout layout = layout_of(image.data, padded);
    require(layout.blocks == (raw.size() + 31) / 32);
    vector_sink back;
    require(problems_in(image.data, layout, keys, &back, piece) == 0);
    Bytes expected(raw.begin(), raw.end());
    expected.resize((raw.size() + 31) / 32 * 32, 0xFF);
    require(back.data == expected);

    if (!image.data.empty()) {
        Bytes damaged = image.data;
        damaged[damage_at % damaged.size()] ^= static_cast<std::uint8_t>(flags | 1);
        require(problems_in(damaged, layout, keys, nullptr, piece) != 0);
    }
    return 0;
}
