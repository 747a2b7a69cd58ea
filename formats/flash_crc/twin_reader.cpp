#include "formats/flash_crc/twin_reader.hpp"

#include <algorithm>

#include "formats/core/hex.hpp"
#include "formats/flash_crc/writer.hpp"

namespace velk {
namespace {

int lower_digit(std::uint8_t c) {
    const std::uint8_t v = lower_hex_digit_values[c];
    return v > 0x0F ? -1 : v;
}

bool good_line(const std::uint8_t* line) {
    return lower_digit(line[0]) >= 0 && lower_digit(line[1]) >= 0 && line[2] == '\r' &&
           line[3] == '\n';
}

std::uint64_t first_four(const std::uint8_t* line, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < twin_line_bytes; ++i) v = v << 8 | (i < n ? line[i] : 0u);
    return v;
}

}  // namespace

twin_source::twin_source(byte_source& text, problem_list& problems, image_part part)
    : text_(text), problems_(problems), part_(part) {}

std::size_t twin_source::read(std::span<std::uint8_t> buf) {
    std::size_t done = 0;
    // Four text bytes a line; read in pieces of at most 256 KiB of text.
    while (done < buf.size() && !ended_) {
        const std::size_t want_lines = std::min<std::size_t>(buf.size() - done, std::size_t{1} << 16);
        in_.resize(want_lines * twin_line_bytes);
        const std::size_t got = text_.read(in_);
        const std::size_t whole = got / twin_line_bytes;
        for (std::size_t i = 0; i < whole; ++i) {
            const std::uint8_t* line = in_.data() + i * twin_line_bytes;
            ++lines_;
            const int high = lower_digit(line[0]);
            const int low = lower_digit(line[1]);
            buf[done + i] = static_cast<std::uint8_t>((high < 0 ? 0 : high) << 4 | (low < 0 ? 0 : low));
            if (good_line(line)) continue;
            problem p;
            p.what = check::twin_line;
            p.part = part_;
            p.index = lines_;
            p.offset = (lines_ - 1) * twin_line_bytes;
            p.stored = first_four(line, twin_line_bytes);
            p.count = twin_line_bytes;
            problems_.add(p);
        }
        done += whole;
        if (got < in_.size()) {
            ended_ = true;
            if (got % twin_line_bytes != 0 && !text_.error()) {
                problem p;
                p.what = check::twin_line;
                p.part = part_;
                p.index = lines_ + 1;
                p.offset = lines_ * twin_line_bytes;
                p.stored = first_four(in_.data() + whole * twin_line_bytes, got % twin_line_bytes);
                p.count = got % twin_line_bytes;
                problems_.add(p);
            }
        }
    }
    return done;
}

bool looks_like_twin(std::span<const std::uint8_t> head) {
    const std::size_t whole = head.size() / twin_line_bytes;
    if (whole == 0 || !good_line(head.data())) return false;
    std::size_t bad = 0;
    for (std::size_t i = 1; i < whole; ++i) {
        if (!good_line(head.data() + i * twin_line_bytes)) ++bad;
    }
    return 16 * bad <= whole;
}

}  // namespace velk
