#pragma once
// Hexadecimal as every part of velk reads and writes it: digits of either
// case read the same, and what velk writes is upper case, except the text
// twin, whose lines are lower case by the format's definition.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace velk {

// The value of `c` as a digit of a base up to 36: 0-9, then a-z or A-Z for
// 10 to 35. Anything else is 36, which is no digit of any base, so
// `digit_value(c) < base` asks whether c is a digit of that base.
constexpr int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 36;
}

// The value of a hexadecimal digit of either case, or -1.
constexpr int hex_digit(char c) {
    const int v = digit_value(c);
    return v < 16 ? v : -1;
}

// hex_digit for every byte value, 0x10 and up for what is no digit: the
// table the text decoders look bytes up in, one load a character.
inline constexpr std::array<std::uint8_t, 256> hex_digit_values = [] {
    std::array<std::uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) {
        const int v = hex_digit(static_cast<char>(c));
        t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(v < 0 ? 0xFF : v);
    }
    return t;
}();

// hex_digit of a byte of text, by the table: what the decoders call.
inline int hex_digit_of(std::uint8_t c) {
    const std::uint8_t v = hex_digit_values[c];
    return v > 0x0F ? -1 : v;
}

// The value of a lower-case hexadecimal digit (0-9, a-f), or -1.
constexpr int lower_hex_digit(char c) { return c >= 'A' && c <= 'F' ? -1 : hex_digit(c); }

// lower_hex_digit for every byte value, 0xFF for what is no such digit:
// one load a character for the readers of text that velk writes.
inline constexpr std::array<std::uint8_t, 256> lower_hex_digit_values = [] {
    std::array<std::uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) {
        const int v = lower_hex_digit(static_cast<char>(c));
        t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(v < 0 ? 0xFF : v);
    }
    return t;
}();

inline constexpr char upper_hex_digits[] = "0123456789ABCDEF";

namespace detail {
constexpr std::array<std::array<char, 2>, 256> make_hex_digit_pairs() {
    std::array<std::array<char, 2>, 256> pairs{};
    for (std::size_t b = 0; b < pairs.size(); ++b) {
        pairs[b] = {upper_hex_digits[b >> 4], upper_hex_digits[b & 0xF]};
    }
    return pairs;
}
}  // namespace detail

// The two upper-case hexadecimal digits of every byte value, high first.
inline constexpr std::array<std::array<char, 2>, 256> hex_digit_pairs =
    detail::make_hex_digit_pairs();

// "0x" and `value` in upper-case hexadecimal, zero-filled to at least
// `digits` digits (at most 16 count): how velk names offsets, lengths
// and values in its messages.
inline std::string hex_text(std::uint64_t value, int digits = 1) {
    std::string text(18, '0');
    std::size_t at = text.size();
    for (std::uint64_t v = value; v != 0; v >>= 4) text[--at] = upper_hex_digits[v & 0xF];
    const std::size_t width = text.size() - at;
    const auto wanted = static_cast<std::size_t>(digits < 1 ? 1 : digits > 16 ? 16 : digits);
    at = text.size() - (width > wanted ? width : wanted);
    text[at - 2] = '0';
    text[at - 1] = 'x';
    return text.substr(at - 2);
}

}  // namespace velk
