#pragma once
// The lines of a text input (Intel HEX, S-records), read a block at a
// time from a random source. A line ends with LF or CR LF; the last may
// have no line end. No line is taken longer than the longest record of
// its format, so a file without line ends costs no more memory than one
// with them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "io/access.hpp"

namespace velk {

class text_lines {
public:
    // `longest`: the most bytes a line may hold, its line end not counted.
    text_lines(const random_source& text, std::size_t longest);

    // Moves to the next line: true, false at the end of the text, a read
    // fault, or a format fault for a line that is too long (`why` says
    // which).
    result<bool> next(std::string& why);

    // The current line without its line end, its number from 1, and the
    // offset of its first byte in the text.
    std::span<const std::uint8_t> line() const { return line_; }
    std::uint64_t number() const { return number_; }
    std::uint64_t offset() const { return line_offset_; }

private:
    status refill();

    const random_source& text_;
    std::size_t longest_;
    std::vector<std::uint8_t> block_;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    std::uint64_t block_offset_ = 0;  // of block_[0] in the text
    std::vector<std::uint8_t> line_;
    std::uint64_t number_ = 0;
    std::uint64_t line_offset_ = 0;
};

// The bytes spelt by pairs of hex digits (either case) in `text` into
// `bytes`. Nothing when every character is a digit and they pair up; else
// the index of the first that is not a digit, or text.size() when the
// digits are odd in number.
std::optional<std::size_t> decode_hex_pairs(std::span<const std::uint8_t> text, std::vector<std::uint8_t>& bytes);

// What decode_hex_pairs found wrong with the record text that starts at
// column `first` (from 1) of its line, in words.
std::string hex_pairs_problem(std::size_t bad, std::size_t length, std::size_t first);

// "0x" and two upper-case hex digits.
std::string byte_text(unsigned value);

// "line N: " followed by `what`: how the text formats' messages begin.
std::string at_line(std::uint64_t number, const std::string& what);

}  // namespace velk
