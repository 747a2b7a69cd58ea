#include "formats/export/wide_cells.hpp"

#include <cassert>

#include "io/cpu.hpp"

#if defined(__x86_64__)
#define VELK_WIDE_CELLS 1
#include <immintrin.h>
#endif

namespace velk {
wide_cells::wide_cells(int size, bool prefix, std::string_view separator) {
    assert(size == 1 || size == 2 || size == 4);
    const auto cell_bytes = static_cast<std::size_t>(size);
    const std::size_t prefix_length = prefix ? 2 : 0;
    const std::size_t separator_length = separator.size() < 2 ? separator.size() : 2;
    const std::size_t cell_length = prefix_length + 2 * cell_bytes + separator_length;
    cells_per_group_ = 16 / cell_bytes;
    group_length_ = cells_per_group_ * cell_length;
    vectors_ = (group_length_ + 15) / 16;
    if (vectors_ > max_vectors || !cpu_has_ssse3()) return;

    for (std::size_t at = 0; at < vectors_ * 16; ++at) {
        std::uint8_t& high = high_[at / 16][at % 16];
        std::uint8_t& low = low_[at / 16][at % 16];
        std::uint8_t& fixed = fixed_[at / 16][at % 16];
        high = low = 0x80;  // a shuffle index with the top bit set gives 0
        fixed = 0;
        if (at >= group_length_) continue;
        const std::size_t cell = at / cell_length;
        const std::size_t in_cell = at % cell_length;
        if (in_cell < prefix_length) {
            fixed = static_cast<std::uint8_t>("0x"[in_cell]);
        } else if (in_cell < prefix_length + 2 * cell_bytes) {
            // The value reads most significant byte first; the cell's bytes
            // lie least significant first.
            const std::size_t digit = in_cell - prefix_length;
            const std::size_t byte = cell * cell_bytes + (cell_bytes - 1 - digit / 2);
            (digit % 2 == 0 ? high : low) = static_cast<std::uint8_t>(byte);
        } else {
            fixed = static_cast<std::uint8_t>(separator[in_cell - prefix_length - 2 * cell_bytes]);
        }
    }
    usable_ = true;
}

#if VELK_WIDE_CELLS
namespace {

// The groups of `Vectors` vectors of text each, line by line; the number
// of vectors is a template argument so that the loop over them unrolls.
template <std::size_t Vectors, class Tables>
__attribute__((target("ssse3"))) std::uint8_t* spell_lines(
    const Tables& high, const Tables& low, const Tables& fixed, std::size_t group_length,
    const std::uint8_t* from, std::size_t count, std::size_t groups_per_line,
    std::uint64_t line_end, std::size_t line_end_length, std::uint8_t* out) {
    const __m128i digits = _mm_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A',
                                         'B', 'C', 'D', 'E', 'F');
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const auto load = [](const Tables& table, std::size_t v) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(table[v].data()));
    };
    for (; count != 0; --count) {
        for (std::size_t g = 0; g < groups_per_line; ++g, from += 16, out += group_length) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
            const __m128i h = _mm_shuffle_epi8(digits, _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble));
            const __m128i l = _mm_shuffle_epi8(digits, _mm_and_si128(bytes, nibble));
            for (std::size_t v = 0; v < Vectors; ++v) {
                const __m128i text = _mm_or_si128(
                    _mm_or_si128(_mm_shuffle_epi8(h, load(high, v)), _mm_shuffle_epi8(l, load(low, v))),
                    load(fixed, v));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * v), text);
            }
        }
        // The line end as one 8-byte store; what it stores past its
        // length is overwritten by what follows.
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_cvtsi64_si128(static_cast<long long>(line_end)));
        out += line_end_length;
    }
    return out;
}

}  // namespace

std::uint8_t* wide_cells::lines(const std::uint8_t* from, std::size_t count,
                                std::size_t groups_per_line, std::string_view line_end,
                                std::uint8_t* out) const {
    std::uint64_t end_word = 0;
    for (std::size_t i = 0; i < line_end.size() && i < 8; ++i) {
        end_word |= std::uint64_t{static_cast<std::uint8_t>(line_end[i])} << (8 * i);
    }
    const std::size_t end_length = line_end.size() < 8 ? line_end.size() : 8;
    switch (vectors_) {
#define VELK_SPELL(n) \
    case n:           \
        return spell_lines<n>(high_, low_, fixed_, group_length_, from, count, groups_per_line, end_word, end_length, out);
        VELK_SPELL(1) VELK_SPELL(2) VELK_SPELL(3) VELK_SPELL(4) VELK_SPELL(5) VELK_SPELL(6)
#undef VELK_SPELL
    }
    return out;
}
#else
std::uint8_t* wide_cells::lines(const std::uint8_t*, std::size_t, std::size_t, std::string_view,
                                std::uint8_t* out) const {
    return out;  // never called: usable() is false
}
#endif

}  // namespace velk
