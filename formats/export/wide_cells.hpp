#pragma once
// Cells sixteen input bytes at a time, for the machines that can shuffle
// bytes in a vector register (x86-64 with SSSE3, which is nearly all of
// them in use). The text of the cells of sixteen input bytes has a fixed
// layout for given settings: each of its bytes is a fixed character (the
// "0x", the separator), or the high or the low digit of one input byte.
// So it is made from the sixteen bytes' high digits and low digits, two
// vectors, by one byte shuffle of each per sixteen bytes of text, with the
// fixed characters OR-ed in; the shuffles are worked out once, here, from
// the settings. The result is the same text cell_text spells one cell at a
// time, which remains the way everywhere else.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velk {

class wide_cells {
public:
    // Cells of `size` bytes (1, 2 or 4), spelt with an optional "0x" and
    // a separator of at most two characters, as cell_text spells them.
    wide_cells(int size, bool prefix, std::string_view separator);

    // True when this machine can, and the text of sixteen input bytes fits
    // the six vectors this keeps; when false, groups() must not be called.
    bool usable() const { return usable_; }
    // Cells per group of sixteen input bytes.
    std::size_t cells_per_group() const { return cells_per_group_; }

    // Spells `count` groups of sixteen input bytes from `from` at `out`,
    // which has room for their text and store_length more; returns the end
    // of the text.
    std::uint8_t* groups(const std::uint8_t* from, std::size_t count, std::uint8_t* out) const {
        return lines(from, 1, count, {}, out);
    }
    // Spells `count` lines of `groups_per_line` groups each, every line
    // followed by `line_end` (at most eight characters), in one call: lines
    // of a few groups are what the text formats are made of.
    std::uint8_t* lines(const std::uint8_t* from, std::size_t count, std::size_t groups_per_line,
                        std::string_view line_end, std::uint8_t* out) const;

    // What groups() may store past the end of its text.
    static constexpr std::size_t store_length = 16;

private:
    static constexpr std::size_t max_vectors = 6;
    using shuffle = std::array<std::uint8_t, 16>;
    std::array<shuffle, max_vectors> high_{};   // byte index of a high digit, or 0x80
    std::array<shuffle, max_vectors> low_{};    // byte index of a low digit, or 0x80
    std::array<shuffle, max_vectors> fixed_{};  // the fixed characters, 0 elsewhere
    std::size_t vectors_ = 0;                   // vectors of text per group
    std::size_t group_length_ = 0;              // bytes of text per group
    std::size_t cells_per_group_ = 0;
    bool usable_ = false;
};

}  // namespace velk
