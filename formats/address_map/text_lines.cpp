#include "formats/address_map/text_lines.hpp"

#include "formats/core/hex.hpp"

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

std::optional<std::size_t> decode_hex_pairs(std::span<const std::uint8_t> text, std::vector<std::uint8_t>& bytes) {
    bytes.resize(text.size() / 2);
    // Every pair looked up and stored; whether any character was no digit
    // is gathered on the way and looked into only then, off the hot path.
    std::uint8_t no_digit = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t high = hex_digit_values[text[2 * i]];
        const std::uint8_t low = hex_digit_values[text[2 * i + 1]];
        no_digit |= static_cast<std::uint8_t>(high | low);
        bytes[i] = static_cast<std::uint8_t>(high << 4 | (low & 0x0F));
    }
    if ((no_digit & 0xF0) != 0 || text.size() % 2 != 0) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (hex_digit_values[text[i]] > 0x0F) return i;
        }
        return text.size();
    }
    return std::nullopt;
}

std::string hex_pairs_problem(std::size_t bad, std::size_t length, std::size_t first) {
    if (bad == length) return "an odd number of hex digits";
    return "column " + std::to_string(first + bad) + " is not a hex digit";
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
