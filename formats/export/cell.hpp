#pragma once
// Cells, the unit of both exports: 1, 2 or 4 input bytes read
// little-endian into one value, and that value spelt as upper-case
// hexadecimal. Both run once per cell of inputs of many megabytes, so
// the input is taken a block of whole cells at a time and the text is
// formatted straight into the output buffer, with nothing in the inner
// loop that the compiler has to keep reloading from memory.

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "formats/core/hex.hpp"
#include "formats/core/le_words.hpp"
#include "formats/pieces/pieces.hpp"
#include "formats/export/wide_cells.hpp"
#include "io/file.hpp"

namespace velk {

// Reads up to `size` bytes (1, 2 or 4) from `in` into `value`, the first
// byte least significant. `value` is stored in every case, with zero above
// the bytes read. Returns the number of bytes read, from 0 to `size`; a
// short count means the source has ended (for a BlockReader: end of file
// or a read error, which in.error() tells apart).
// `Source` is anything whose get() returns the next byte or -1 at its end.
template <class Source>
int read_cell(Source& in, int size, std::uint32_t& value) {
    assert(size == 1 || size == 2 || size == 4);
    std::uint32_t cell = 0;
    int k = 0;
    for (; k < size; ++k) {
        const int byte = in.get();
        if (byte < 0) break;
        cell |= static_cast<std::uint32_t>(byte) << (8 * k);
    }
    value = cell;
    return k;
}

// The bytes of one block of input, handed out one at a time.
class byte_cursor {
public:
    explicit byte_cursor(std::span<const std::uint8_t> bytes)
        : at_(bytes.data()), end_(bytes.data() + bytes.size()) {}
    int get() { return at_ == end_ ? -1 : *at_++; }

private:
    const std::uint8_t* at_;
    const std::uint8_t* end_;
};

// Copies a short fixed text to `out`; returns the end of the copy.
template <std::size_t N>
std::uint8_t* put_text(std::uint8_t* out, const char (&text)[N]) {
    std::memcpy(out, text, N - 1);
    return out + (N - 1);
}

// The text of one `Size`-byte cell (1, 2 or 4): an optional "0x", the
// value as upper-case hexadecimal zero-filled to the cell's full width (2,
// 4 or 8 digits), then a separator of at most two characters.
//
// A cell's text is at most twelve bytes, so it is built in one or two
// 64-bit words and stored whole: one store per cell (two for 32-bit cells)
// instead of one per digit pair. Each input byte of the cell looks up its
// share of those words in a table of its own, made once for the settings
// (the prefix and separator already in place in the first byte's table),
// so a cell costs a load per byte, an OR per byte after the first, and the
// stores, with nothing to branch on.
template <int Size>
class cell_text {
    static_assert(Size == 1 || Size == 2 || Size == 4);
    static constexpr std::size_t word_count = Size == 4 ? 2 : 1;
    using words = std::array<std::uint64_t, word_count>;

public:
    // Longest text of one cell: "0x", the digits, two separator characters.
    static constexpr std::size_t max_length = 2 + 2 * Size + 2;
    // What one write may store from its `out`: whole 8-byte words, so past
    // the end of a shorter text. Room for this much must follow `out`.
    static constexpr std::size_t store_length = 8 * word_count;

    cell_text(bool prefix, std::string_view separator) {
        const std::size_t prefix_length = prefix ? 2 : 0;
        const std::size_t separator_length = separator.size() < 2 ? separator.size() : 2;
        length_ = prefix_length + 2 * Size + separator_length;
        std::array<std::uint8_t, store_length> blank{};  // every digit a zero byte
        if (prefix) blank[0] = '0', blank[1] = 'x';
        for (std::size_t i = 0; i < separator_length; ++i) {
            blank[prefix_length + 2 * Size + i] = static_cast<std::uint8_t>(separator[i]);
        }
        // Input byte i (least significant first) is spelt at digit pair
        // Size - 1 - i: the value reads most significant first.
        for (std::size_t i = 0; i < Size; ++i) {
            const std::size_t at = prefix_length + 2 * (Size - 1 - i);
            for (std::size_t b = 0; b < 256; ++b) {
                std::array<std::uint8_t, store_length> text{};
                if (i == 0) text = blank;
                text[at] = static_cast<std::uint8_t>(hex_digit_pairs[b][0]);
                text[at + 1] = static_cast<std::uint8_t>(hex_digit_pairs[b][1]);
                for (std::size_t w = 0; w < word_count; ++w) {
                    std::uint64_t bits = 0;
                    for (std::size_t k = 0; k < 8; ++k) bits |= std::uint64_t{text[8 * w + k]} << (8 * k);
                    parts_[i][b][w] = bits;
                }
            }
        }
    }

    std::size_t length() const { return length_; }

    // What the loops over many cells use: the tables and the length in a
    // value of two words, which the stores into the output buffer cannot
    // touch, so that both stay in registers.
    class writer {
    public:
        // Writes the text of the whole cell at `from` at `out`, which has
        // room for store_length bytes; returns the end of the text.
        std::uint8_t* cell(const std::uint8_t* from, std::uint8_t* out) const {
            words text = parts_[0][from[0]];
            for (std::size_t i = 1; i < Size; ++i) {
                for (std::size_t w = 0; w < word_count; ++w) text[w] |= parts_[i][from[i]][w];
            }
            for (std::size_t w = 0; w < word_count; ++w) store_le64(out + 8 * w, text[w]);
            return out + length_;
        }

    private:
        friend class cell_text;
        writer(const std::array<std::array<words, 256>, Size>* parts, std::size_t length)
            : parts_(*parts), length_(length) {}
        const std::array<std::array<words, 256>, Size>& parts_;
        std::size_t length_;
    };
    writer spell() const { return writer(&parts_, length_); }

    // The text of a cell holding `value` (a partial last cell, its missing
    // bytes zero), written as cell() writes it.
    std::uint8_t* write(std::uint32_t value, std::uint8_t* out) const {
        std::array<std::uint8_t, Size> bytes{};
        for (std::size_t i = 0; i < Size; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
        return spell().cell(bytes.data(), out);
    }

private:
    std::array<std::array<words, 256>, Size> parts_{};  // per input byte, per byte value
    std::size_t length_ = 0;
};

// What the cell spellings may store past the end of their text: cell_text
// whole 8-byte words, wide_cells whole 16-byte vectors.
inline constexpr std::size_t store_slack = 16;
static_assert(cell_text<4>::store_length <= store_slack && wide_cells::store_length <= store_slack);

// Cells taken from the input per block.
inline constexpr std::size_t block_cells = 4096;

// Runs `body(block, out_at)` on the input one block at a time until the
// input ends or a write has failed. `block` holds whole `Size`-byte cells
// except that the last block may end in a partial one. `out_at` points at
// room for block_cells times `room_per_cell` bytes of output and then
// store_slack more for the stores past the last cell's end (which the
// writer's capacity must hold), and `body` returns the end of
// what it wrote there. A read error ends the input as end of file does (in.error() tells).
template <int Size, class Body>
void for_each_block(BlockReader& in, BlockWriter& out, std::size_t room_per_cell, Body body) {
    std::array<std::uint8_t, block_cells * Size> block;
    std::size_t got = 0;
    do {
        got = in.read(block);
        std::uint8_t* const start = out.reserve(block_cells * room_per_cell + store_slack);
        std::uint8_t* const end = body(std::span<const std::uint8_t>(block.data(), got), start);
        out.commit(static_cast<std::size_t>(end - start));
    } while (got == block.size() && out.ok());
}

// An export's cells cut into pieces of whole lines (see pieces.hpp): every
// piece starts a line, so its text depends on nothing before it but where
// it starts, and every piece but the last is as long as any other. A
// format derives from it with its `Spelling` (which has `line_count`,
// `cell_size` and `line_length()`, a full line's text) and spells a piece
// in convert().
template <class Spelling>
class line_pieces : public piecewise {
public:
    // Input per piece: whole lines, about this many bytes of them.
    static constexpr std::size_t piece_input = std::size_t{128} << 10;
    // False for lines longer than a piece, which would make a piece of each
    // line alone: those are streamed.
    static bool fits(std::uint32_t per_line) {
        return std::size_t{per_line == 0 ? 1u : per_line} * Spelling::cell_size <= piece_input;
    }

    template <class... Settings>
    explicit line_pieces(const Settings&... settings)
        : spelling_(settings...), lines_(std::max<std::size_t>(piece_input / line_bytes(), 1)) {}

    std::size_t piece_bytes() const override { return lines_ * line_bytes(); }
    std::size_t output_count() const override { return 1; }
    std::size_t output_room(std::size_t) const override {
        return lines_ * spelling_.line_length() + store_slack;
    }
    std::uint64_t output_offset(std::size_t, std::uint64_t index) const override {
        return index * lines_ * spelling_.line_length();
    }

protected:
    std::size_t line_bytes() const { return std::size_t{spelling_.line_count} * Spelling::cell_size; }
    Spelling spelling_;

private:
    std::size_t lines_;
};

}  // namespace velk
