// The hexadecimal text dump.

#include <algorithm>
#include <span>

#include "formats/cell.hpp"
#include "formats/export.hpp"

namespace velk {
namespace {

// Every cell of the input, each followed by its separator, and a line end
// after every line_count cells (0 counts as 1); a partial last cell ends the
// dump, without a line end. The cells of a block up to the next line end
// go through one loop with nothing to check per cell.
template <int Size>
void write_cells(BlockReader& in, BlockWriter& out, const export_settings& settings) {
    const cell_text<Size> cell(settings.prefix, settings.comma ? "," : " ");
    const std::uint32_t line_count = std::max<std::uint32_t>(settings.per_line, 1);
    std::uint32_t cells_on_line = 0;
    for_each_block<Size>(in, out, cell.max_length + 2, [&](std::span<const std::uint8_t> block,
                                                          std::uint8_t* at) {
        const auto text = cell.spell();
        const std::uint8_t* p = block.data();
        for (std::size_t cells = block.size() / Size; cells != 0;) {
            const std::size_t run = std::min<std::size_t>(cells, line_count - cells_on_line);
            for (const std::uint8_t* const end = p + run * Size; p != end; p += Size) {
                at = text.cell(p, at);
            }
            cells -= run;
            cells_on_line += static_cast<std::uint32_t>(run);
            if (cells_on_line == line_count) {
                at = put_text(at, "\r\n");
                cells_on_line = 0;
            }
        }
        byte_cursor partial(std::span(p, block.data() + block.size()));
        std::uint32_t value = 0;
        if (read_cell(partial, Size, value) > 0) at = cell.write(value, at);
        return at;
    });
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
};

}  // namespace

const export_format& text_dump_format() {
    static const text_dump format;
    return format;
}

}  // namespace velk
