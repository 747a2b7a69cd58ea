// The hexadecimal text dump.

#include <algorithm>
#include <memory>
#include <span>
#include <string_view>

#include "formats/export/cell.hpp"
#include "formats/export/export.hpp"
#include "formats/pieces/pieces.hpp"
#include "formats/export/wide_cells.hpp"

namespace velk {
namespace {

// How the dump spells cells: one at a time, and sixteen input bytes at a
// time where the machine can.
template <int Size>
struct dump_spelling {
    explicit dump_spelling(const export_settings& settings)
        : cell(settings.prefix, separator(settings)),
          wide(Size, settings.prefix, separator(settings)),
          line_count(std::max<std::uint32_t>(settings.per_line, 1)) {}
    static std::string_view separator(const export_settings& settings) {
        return settings.comma ? "," : " ";
    }
    static constexpr int cell_size = Size;
    // A full line's text: its cells and the line end.
    std::size_t line_length() const { return std::size_t{line_count} * cell.length() + 2; }
    cell_text<Size> cell;
    wide_cells wide;
    std::uint32_t line_count;  // 0 counts as 1
};

// The text of the cells of `block`, the first of them `cells_on_line`
// cells into a line: each cell followed by its separator, a line end after
// every line_count cells, and a partial last cell spelt zero-filled (it
// ends the dump, without a line end). The cells up to the next line end
// go as sixteen input bytes at a time, then one at a time, with nothing to
// check per cell. Returns the end of the text at `at`, which has room for
// it and for the whole-word and whole-vector stores past its end.
template <int Size>
std::uint8_t* dump_block(std::span<const std::uint8_t> block, const dump_spelling<Size>& s,
                         std::uint32_t& cells_on_line, std::uint8_t* at) {
    const auto text = s.cell.spell();
    const std::size_t per_group = s.wide.usable() ? s.wide.cells_per_group() : 0;
    const std::uint8_t* p = block.data();
    std::size_t cells = block.size() / Size;
    // Whole lines of whole groups, from a line's start, in one call.
    if (per_group != 0 && cells_on_line == 0 && s.line_count % per_group == 0) {
        const std::size_t lines = cells / s.line_count;
        at = s.wide.lines(p, lines, s.line_count / per_group, "\r\n", at);
        p += lines * s.line_count * Size;
        cells -= lines * s.line_count;
    }
    while (cells != 0) {
        const std::size_t run = std::min<std::size_t>(cells, s.line_count - cells_on_line);
        std::size_t grouped = 0;
        if (per_group != 0 && run >= per_group) {
            at = s.wide.groups(p, run / per_group, at);
            grouped = run / per_group * per_group;
            p += grouped * Size;
        }
        for (const std::uint8_t* const end = p + (run - grouped) * Size; p != end; p += Size) {
            at = text.cell(p, at);
        }
        cells -= run;
        cells_on_line += static_cast<std::uint32_t>(run);
        if (cells_on_line == s.line_count) {
            at = put_text(at, "\r\n");
            cells_on_line = 0;
        }
    }
    byte_cursor partial(std::span(p, block.data() + block.size()));
    std::uint32_t value = 0;
    if (read_cell(partial, Size, value) > 0) at = s.cell.write(value, at);
    return at;
}

template <int Size>
void write_cells(BlockReader& in, BlockWriter& out, const export_settings& settings) {
    const dump_spelling<Size> spelling(settings);
    std::uint32_t cells_on_line = 0;
    for_each_block<Size>(in, out, spelling.cell.max_length + 2,
                         [&](std::span<const std::uint8_t> block, std::uint8_t* at) {
                             return dump_block(block, spelling, cells_on_line, at);
                         });
}

// The dump in pieces of whole lines.
template <int Size>
class dump_pieces final : public line_pieces<dump_spelling<Size>> {
public:
    using line_pieces<dump_spelling<Size>>::line_pieces;
    piecewise::lengths convert(std::uint64_t, std::span<std::uint8_t> input, std::size_t length,
                               const piecewise::buffers& out) const override {
        std::uint32_t cells_on_line = 0;
        const std::uint8_t* end = dump_block(input.first(length), this->spelling_, cells_on_line, out[0].data());
        return {static_cast<std::size_t>(end - out[0].data()), 0};
    }
};

template <int Size>
std::unique_ptr<piecewise> make_dump_pieces(const export_settings& settings) {
    if (!dump_pieces<Size>::fits(settings.per_line)) return nullptr;
    return std::make_unique<dump_pieces<Size>>(settings);
}

class text_dump final : public export_format {
public:
    std::string_view name_suffix() const override { return "_qz.txt"; }
    int default_cell_bits() const override { return 8; }
    bool needs_input_size() const override { return false; }

    void head(BlockWriter&, const export_settings&, const export_context&) const override {}

    void cells(BlockReader& in, BlockWriter& out, const export_settings& settings,
               const export_context&) const override {
        switch (settings.cell_bits) {
            case 16: return write_cells<2>(in, out, settings);
            case 32: return write_cells<4>(in, out, settings);
            default: return write_cells<1>(in, out, settings);
        }
    }

    void tail(BlockWriter&, const export_settings&, const export_context&) const override {}

    std::unique_ptr<piecewise> pieces(const export_settings& settings,
                                      const export_context&) const override {
        switch (settings.cell_bits) {
            case 16: return make_dump_pieces<2>(settings);
            case 32: return make_dump_pieces<4>(settings);
            default: return make_dump_pieces<1>(settings);
        }
    }
};

}  // namespace

const export_format& text_dump_format() {
    static const text_dump format;
    return format;
}

}  // namespace velk
