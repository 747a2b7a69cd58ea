#pragma once
// Cells, the unit of both exports: 1, 2 or 4 input bytes read
// little-endian into one value, and that value spelt as upper-case
// hexadecimal. Both run once per cell of inputs of many megabytes, so
// the input is taken a block of whole cells at a time and the text is
// formatted straight into the output buffer, with nothing in the inner
// loop that the compiler has to keep reloading from memory.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

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

namespace detail {
constexpr std::array<std::array<char, 2>, 256> make_hex_digit_pairs() {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, 2>, 256> pairs{};
    for (std::size_t b = 0; b < pairs.size(); ++b) pairs[b] = {digits[b >> 4], digits[b & 0xF]};
    return pairs;
}
}  // namespace detail

// The two upper-case hexadecimal digits of every byte value, high first.
inline constexpr std::array<std::array<char, 2>, 256> hex_digit_pairs =
    detail::make_hex_digit_pairs();

// Copies a short fixed text to `out`; returns the end of the copy.
template <std::size_t N>
std::uint8_t* put_text(std::uint8_t* out, const char (&text)[N]) {
    std::memcpy(out, text, N - 1);
    return out + (N - 1);
}

// The text of one cell: an optional "0x", the value as upper-case
// hexadecimal zero-filled to the cell's full width (2, 4 or 8 digits),
// then a separator of at most two characters.
class cell_text {
public:
    // Longest text of one cell: "0x", eight digits, two separator characters.
    static constexpr std::size_t max_length = 12;

    // Defined here so that the fields of a local cell_text stay in
    // registers in the loops that use it.
    constexpr cell_text(bool prefix, std::string_view separator)
        : prefix_length_(prefix ? 2 : 0),
          affix_length_(prefix_length_ + (separator.size() < 2 ? separator.size() : 2)) {
        for (std::size_t i = 0; i < affix_length_ - prefix_length_; ++i) separator_[i] = separator[i];
    }

    // Writes the text of a `Size`-byte cell holding `value` at `out`, which
    // has room for max_length bytes, and returns the end of the text.
    // Copies of fixed size, with the lengths added afterwards, keep this
    // free of branches and calls; every copy is placed from `out` and `out`
    // moves once, so consecutive cells depend on each other only through
    // that one addition.
    template <int Size>
    std::uint8_t* write(std::uint32_t value, std::uint8_t* out) const {
        std::memcpy(out, "0x", 2);
        std::uint8_t* const digits = out + prefix_length_;
        for (int k = 0; k < Size; ++k) {
            const std::uint32_t byte = (value >> (8 * (Size - 1 - k))) & 0xFFu;
            std::memcpy(digits + 2 * k, hex_digit_pairs[byte].data(), 2);
        }
        std::memcpy(digits + 2 * Size, separator_.data(), 2);
        return out + (2 * Size + affix_length_);
    }

private:
    std::size_t prefix_length_;
    std::array<char, 2> separator_{};
    std::size_t affix_length_;  // prefix and separator together
};

// Cells taken from the input per block.
inline constexpr std::size_t block_cells = 1024;

// Runs `body(block, out_at)` on the input one block at a time until the
// input ends or a write has failed. `block` holds whole `Size`-byte cells
// except that the last block may end in a partial one. `out_at` points at
// room for block_cells times `room_per_cell` bytes of output (which the
// writer's capacity must hold), and `body` returns the end of what it wrote
// there. A read error ends the input as end of file does (in.error() tells).
template <int Size, class Body>
void for_each_block(BlockReader& in, BlockWriter& out, std::size_t room_per_cell, Body body) {
    std::array<std::uint8_t, block_cells * Size> block;
    std::size_t got = 0;
    do {
        got = in.read(block);
        std::uint8_t* const start = out.reserve(block_cells * room_per_cell);
        std::uint8_t* const end = body(std::span<const std::uint8_t>(block.data(), got), start);
        out.commit(static_cast<std::size_t>(end - start));
    } while (got == block.size() && out.ok());
}

// The value of the whole `Size`-byte cell at `at`, the first byte least
// significant.
template <int Size>
std::uint32_t load_cell(const std::uint8_t* at) {
    std::uint32_t value = 0;
    for (int k = 0; k < Size; ++k) value |= static_cast<std::uint32_t>(at[k]) << (8 * k);
    return value;
}

}  // namespace velk
