#include "formats/oad/header_reader.hpp"

namespace velk {

void check_oad_header(const oad_header_report& h, image_part part, problem_list& problems) {
    problem p;
    p.part = part;
    p.offset = h.offset;
    if (!h.crc_ok()) {
        p.what = check::header_crc;
        p.field = header_field::crc;
        p.stored = h.stored.crc;
        p.computed = h.computed_crc;
        problems.add(p);
    }
    if (!h.length_ok()) {
        p.what = check::header_length;
        p.field = header_field::length_words;
        p.stored = h.stored.length_words;
        p.computed = h.expected_words();
        p.count = h.length;
        problems.add(p);
    }
    if (!h.reserved_ok()) {
        p.what = check::header_reserved;
        p.field = header_field::reserved;
        p.stored = std::uint64_t{h.stored.reserved[0]} << 8 | h.stored.reserved[1];
        p.computed = 0xFFFF;
        p.count = 0;
        problems.add(p);
    }
}

void compare_oad_header(const oad_header_report& h, const oad_header& written, image_part part,
                        problem_list& problems) {
    const auto differs = [&](header_field field, std::uint64_t stored, std::uint64_t expected) {
        if (stored == expected) return;
        problem p;
        p.what = check::header_field;
        p.part = part;
        p.field = field;
        p.offset = h.offset;
        p.stored = stored;
        p.computed = expected;
        problems.add(p);
    };
    const oad_header& s = h.stored;
    differs(header_field::version, s.version, written.version);
    differs(header_field::length_words, s.length_words, written.length_words);
    differs(header_field::uid, s.uid, written.uid);
    differs(header_field::reserved, std::uint64_t{s.reserved[0]} << 8 | s.reserved[1],
            std::uint64_t{written.reserved[0]} << 8 | written.reserved[1]);
    differs(header_field::rom_version, s.rom_version, written.rom_version);
}

bool header_plausible(std::span<const std::uint8_t> bytes, std::uint64_t length) {
    if (bytes.size() < oad_header_size || length < oad_header_size) return false;
    const oad_header h = decode_oad_header(bytes);
    if (h.reserved[0] != 0xFF || h.reserved[1] != 0xFF) return false;
    // The length the field stands for, plus as many times 0x10000 words as
    // the image may have wrapped it: the nearest to the real length.
    constexpr std::uint64_t wrap = std::uint64_t{0x10000} * 4;
    const std::uint64_t implied = length_from_words(h.length_words);
    const std::uint64_t wraps = length / wrap;
    for (std::uint64_t k = wraps == 0 ? 0 : wraps - 1; k <= wraps + 1; ++k) {
        const std::uint64_t candidate = implied + k * wrap;
        const std::uint64_t diff = candidate > length ? candidate - length : length - candidate;
        if (diff <= 256) return true;
    }
    return false;
}

std::optional<std::string> printable_uid(std::uint32_t uid) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<char>((uid >> (8 * i)) & 0xFFu);
        if (c < 0x20 || c > 0x7E) return std::nullopt;
        text.push_back(c);
    }
    return text;
}

}  // namespace velk
