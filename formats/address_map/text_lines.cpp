#include "formats/address_map/text_lines.hpp"

#include <algorithm>
#include <cstdio>

namespace velk {

text_lines::text_lines(const random_source& text, std::size_t longest)
    : text_(text), longest_(longest), block_(std::size_t{1} << 16) {}

status text_lines::refill() {
    block_offset_ += len_;
    pos_ = 0;
    len_ = static_cast<std::size_t>(
        std::min<std::uint64_t>(block_.size(), text_.size() - std::min(text_.size(), block_offset_)));
    return text_.read_at(block_offset_, std::span(block_).first(len_));
}

result<bool> text_lines::next(std::string& why) {
    line_.clear();
    line_offset_ = block_offset_ + pos_;
    bool any = false;  // a byte of this line, its line end too, was seen
    for (;;) {
        if (pos_ == len_) {
            if (const status s = refill(); !s) return s.error();
            if (len_ == 0) break;
        }
        const auto begin = block_.begin() + static_cast<std::ptrdiff_t>(pos_);
        const auto end = block_.begin() + static_cast<std::ptrdiff_t>(len_);
        const auto lf = std::find(begin, end, std::uint8_t{'\n'});
        any = true;
        // One byte more than the longest line for a CR before the LF.
        if (static_cast<std::size_t>(lf - begin) + line_.size() > longest_ + 1) {
            why = at_line(number_ + 1, "longer than " + std::to_string(longest_) + " characters");
            return fault{fault_kind::format, role::none, 0, line_offset_};
        }
        line_.insert(line_.end(), begin, lf);
        pos_ = static_cast<std::size_t>(lf - block_.begin());
        if (lf != end) {
            ++pos_;
            break;
        }
    }
    if (!any) return false;
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    if (line_.size() > longest_) {
        why = at_line(number_ + 1, "longer than " + std::to_string(longest_) + " characters");
        return fault{fault_kind::format, role::none, 0, line_offset_};
    }
    ++number_;
    return true;
}

namespace {

int hex_value(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

bool decode_hex_pairs(std::span<const std::uint8_t> text, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    if (text.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = hex_value(text[i]);
        const int low = hex_value(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return true;
}

std::string byte_text(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

std::string at_line(std::uint64_t number, const std::string& what) {
    return "line " + std::to_string(number) + ": " + what;
}

}  // namespace velk
