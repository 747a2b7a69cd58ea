// The C source file that defines one array of the image's cells: the
// elements every C array file shares, and the head and tail the
// compatibility programs write around them.

#include <algorithm>
#include <memory>
#include <string>

#include "formats/export/c_elements.hpp"
#include "formats/export/cell.hpp"
#include "formats/export/export.hpp"
#include "formats/pieces/pieces.hpp"
#include "formats/export/wide_cells.hpp"

namespace velk {
namespace {

// Spells `count` whole cells from `from` with `text`; returns the end.
template <class Writer, int Size>
std::uint8_t* spell_cells(const std::uint8_t* from, std::size_t count, const Writer& text,
                          std::uint8_t* at) {
    for (const std::uint8_t* const end = from + count * Size; from != end; from += Size) {
        at = text.cell(from, at);
    }
    return at;
}

// How the elements are spelt, and where the last one is.
template <int Size>
struct element_spelling {
    element_spelling(std::uint32_t per_line, std::uint64_t size)
        : line_count(std::max<std::uint32_t>(per_line, 1)), input_size(size) {}
    cell_text<Size> element{true, ", "};
    cell_text<Size> last_element{true, ""};
    wide_cells wide{Size, true, ", "};  // elements sixteen input bytes at a time
    std::uint32_t line_count;
    std::uint64_t input_size;
    static constexpr int cell_size = Size;
    // Text of one full line: its elements and the next line's indent.
    std::size_t line_length() const { return std::size_t{line_count} * element.length() + 6; }
};

// The elements of `block`, which starts `bytes_done` bytes into the input
// and `cells_on_line` elements into a line (both kept up to date): each
// but the last followed by ", ", and a new indented line after every
// line_count elements unless the last one was just written. The last
// element is the one that reaches the measured size; a read that ends
// early leaves the separator on the element before. The cells up to the
// next line end go through one loop with nothing to check per cell; only
// the run that holds the last element is cut around it. Returns the end of
// the text at `at`, which has room for it and for cell_text's whole-word
// stores past its end.
template <int Size>
std::uint8_t* spell_elements(std::span<const std::uint8_t> block, const element_spelling<Size>& s,
                             std::uint64_t& bytes_done, std::uint32_t& cells_on_line,
                             std::uint8_t* at) {
    const auto text = s.element.spell();
    using writer = decltype(text);
    const std::size_t per_group = s.wide.usable() ? s.wide.cells_per_group() : 0;
    const std::uint8_t* p = block.data();
    std::size_t cells = block.size() / Size;
    // Whole lines of whole groups from a line's start, in one call, up to
    // the line that holds the last element.
    if (per_group != 0 && cells_on_line == 0 && s.line_count % per_group == 0) {
        const std::uint64_t line_bytes = std::uint64_t{s.line_count} * Size;
        std::uint64_t lines = cells / s.line_count;
        if (bytes_done < s.input_size) lines = std::min(lines, (s.input_size - bytes_done - 1) / line_bytes);
        at = s.wide.lines(p, static_cast<std::size_t>(lines), s.line_count / per_group, "\r\n    ", at);
        p += lines * line_bytes;
        bytes_done += lines * line_bytes;
        cells -= static_cast<std::size_t>(lines) * s.line_count;
    }
    while (cells != 0) {
        const std::size_t run = std::min<std::size_t>(cells, s.line_count - cells_on_line);
        // Whole cells before the last element, when it ends this run's
        // whole cells or comes among them.
        std::size_t before_last = run;
        const std::uint64_t to_last = s.input_size - bytes_done;
        if (bytes_done < s.input_size && to_last % Size == 0 && to_last / Size <= run) {
            before_last = static_cast<std::size_t>(to_last / Size) - 1;
        }
        at = spell_cells<writer, Size>(p, before_last, text, at);
        if (before_last != run) {
            const std::uint8_t* const last = p + before_last * Size;
            at = s.last_element.spell().cell(last, at);
            at = spell_cells<writer, Size>(last + Size, run - before_last - 1, text, at);
        }
        p += run * Size;
        bytes_done += run * Size;
        cells -= run;
        cells_on_line += static_cast<std::uint32_t>(run);
        if (cells_on_line == s.line_count) {
            if (bytes_done != s.input_size) at = put_text(at, "\r\n    ");
            cells_on_line = 0;
        }
    }
    byte_cursor partial(std::span(p, block.data() + block.size()));
    std::uint32_t value = 0;
    if (const int n = read_cell(partial, Size, value); n > 0) {
        bytes_done += static_cast<unsigned>(n);
        at = (bytes_done == s.input_size ? s.last_element : s.element).write(value, at);
    }
    return at;
}

template <int Size>
void write_elements(BlockReader& in, BlockWriter& out, std::uint32_t per_line,
                    std::uint64_t input_size) {
    const element_spelling<Size> spelling(per_line, input_size);
    std::uint64_t bytes_done = 0;
    std::uint32_t cells_on_line = 0;
    for_each_block<Size>(in, out, spelling.element.max_length + 6,
                         [&](std::span<const std::uint8_t> block, std::uint8_t* at) {
                             return spell_elements(block, spelling, bytes_done, cells_on_line, at);
                         });
}

// The elements in pieces of whole lines; a piece's first element is
// where the piece starts in the input.
template <int Size>
class element_pieces final : public line_pieces<element_spelling<Size>> {
public:
    using line_pieces<element_spelling<Size>>::line_pieces;
    piecewise::lengths convert(std::uint64_t index, std::span<std::uint8_t> input, std::size_t length,
                               const piecewise::buffers& out) const override {
        std::uint64_t bytes_done = index * this->piece_bytes();
        std::uint32_t cells_on_line = 0;
        const std::uint8_t* end =
            spell_elements(input.first(length), this->spelling_, bytes_done, cells_on_line, out[0].data());
        return {static_cast<std::size_t>(end - out[0].data()), 0};
    }
};

template <int Size>
std::unique_ptr<piecewise> make_element_pieces(std::uint32_t per_line, std::uint64_t input_size) {
    if (!element_pieces<Size>::fits(per_line)) return nullptr;
    return std::make_unique<element_pieces<Size>>(per_line, input_size);
}

// The file as the compatibility programs write it, byte for byte.
class c_array final : public c_elements {
public:
    // Everything before the first element: the name line, the declaration
    // with the element count (and, for 16- and 32-bit elements, the input
    // size), the opening brace and the indent of the first body line.
    void head(BlockWriter& out, const export_settings& settings,
              const export_context& context) const override {
        const std::uint64_t input_size = context.input_size.value_or(0);
        out.put("\r\n//");
        out.put(context.output_name);
        out.put(", the following array is genearted by the tool: velkmill.exe\r\n\r\n\r\n");
        if (settings.fixed_width_types) out.put("#include <stdint.h>\r\n\r\n");
        if (settings.constant) out.put("const ");
        out.put(c_element_type(settings));
        out.put(" " + settings.array_name + "[" + std::to_string(c_element_count(settings, input_size)) +
                "] =");
        if (settings.cell_bits == 8) {
            out.put(" \r\n");
        } else {
            out.put("     //binary file size:" + std::to_string(input_size) + " Bytes\r\n");
        }
        out.put("{\r\n    ");
    }

    void tail(BlockWriter& out, const export_settings& settings,
              const export_context& context) const override {
        out.put("\r\n};\r\n");
        if (settings.length_symbol) {
            out.put("\r\n");
            if (settings.constant) out.put("const ");
            out.put(c_length_type(settings));
            out.put(" " + settings.array_name + "_len = " +
                    std::to_string(context.input_size.value_or(0)) + ";\r\n");
        }
        out.put("\r\n//eof\r\n\r\n");
    }
};

}  // namespace

std::uint64_t c_element_count(const export_settings& settings, std::uint64_t input_size) {
    const auto size = static_cast<std::uint64_t>(settings.cell_bits / 8);
    return (input_size + size - 1) / size;
}

std::string_view c_element_type(const export_settings& settings) {
    if (settings.fixed_width_types) {
        return settings.cell_bits == 8 ? "uint8_t" : settings.cell_bits == 16 ? "uint16_t" : "uint32_t";
    }
    return settings.cell_bits == 8 ? "unsigned char"
           : settings.cell_bits == 16 ? "unsigned short"
                                      : "unsigned int";
}

std::string_view c_length_type(const export_settings& settings) {
    return settings.fixed_width_types ? "uint32_t" : "unsigned long";
}

void c_elements::cells(BlockReader& in, BlockWriter& out, const export_settings& settings,
                       const export_context& context) const {
    const std::uint64_t size = context.input_size.value_or(0);
    switch (settings.cell_bits) {
        case 8: return write_elements<1>(in, out, settings.per_line, size);
        case 16: return write_elements<2>(in, out, settings.per_line, size);
        default: return write_elements<4>(in, out, settings.per_line, size);
    }
}

std::unique_ptr<piecewise> c_elements::pieces(const export_settings& settings,
                                              const export_context& context) const {
    const std::uint64_t size = context.input_size.value_or(0);
    switch (settings.cell_bits) {
        case 8: return make_element_pieces<1>(settings.per_line, size);
        case 16: return make_element_pieces<2>(settings.per_line, size);
        default: return make_element_pieces<4>(settings.per_line, size);
    }
}

const export_format& c_array_format() {
    static const c_array format;
    return format;
}

}  // namespace velk
