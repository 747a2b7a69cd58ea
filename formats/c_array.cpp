// The C source file that defines one array of the image's cells.

#include <algorithm>
#include <string>

#include "formats/cell.hpp"
#include "formats/export.hpp"

namespace velk {
namespace {

std::uint64_t element_count(const export_settings& settings, std::uint64_t input_size) {
    const auto size = static_cast<std::uint64_t>(settings.cell_bits / 8);
    return (input_size + size - 1) / size;
}

// The length symbol's type: at least 32 bits even where int has 16.
std::string_view length_type(const export_settings& settings) {
    return settings.fixed_width_types ? "uint32_t" : "unsigned long";
}

std::string_view element_type(const export_settings& settings) {
    if (settings.fixed_width_types) {
        return settings.cell_bits == 8 ? "uint8_t" : settings.cell_bits == 16 ? "uint16_t" : "uint32_t";
    }
    return settings.cell_bits == 8 ? "unsigned char"
           : settings.cell_bits == 16 ? "unsigned short"
                                      : "unsigned int";
}

// Spells `count` whole cells from `from` with `text`; returns the end.
template <class Writer, int Size>
std::uint8_t* spell_cells(const std::uint8_t* from, std::size_t count, const Writer& text,
                          std::uint8_t* at) {
    for (const std::uint8_t* const end = from + count * Size; from != end; from += Size) {
        at = text.cell(from, at);
    }
    return at;
}

// The elements, each but the last followed by ", ", and a new indented
// line after every line_count elements unless the last one was just
// written. The last element is the one that reaches the measured size; a
// read that ends early leaves the separator on the element before. The
// cells of a block up to the next line end go through one loop with
// nothing to check per cell; only the run that holds the last element is
// cut around it.
template <int Size>
void write_elements(BlockReader& in, BlockWriter& out, std::uint32_t per_line,
                    std::uint64_t input_size) {
    const cell_text<Size> element(true, ", ");
    const cell_text<Size> last_element(true, "");
    const std::uint32_t line_count = std::max<std::uint32_t>(per_line, 1);
    std::uint64_t bytes_done = 0;
    std::uint32_t cells_on_line = 0;
    for_each_block<Size>(in, out, element.max_length + 6, [&](std::span<const std::uint8_t> block,
                                                             std::uint8_t* at) {
        const auto text = element.spell();
        using writer = decltype(text);
        const std::uint8_t* p = block.data();
        for (std::size_t cells = block.size() / Size; cells != 0;) {
            const std::size_t run = std::min<std::size_t>(cells, line_count - cells_on_line);
            // Whole cells before the last element, when it ends this run's
            // whole cells or comes among them.
            std::size_t before_last = run;
            const std::uint64_t to_last = input_size - bytes_done;
            if (bytes_done < input_size && to_last % Size == 0 && to_last / Size <= run) {
                before_last = static_cast<std::size_t>(to_last / Size) - 1;
            }
            at = spell_cells<writer, Size>(p, before_last, text, at);
            if (before_last != run) {
                const std::uint8_t* const last = p + before_last * Size;
                at = last_element.spell().cell(last, at);
                at = spell_cells<writer, Size>(last + Size, run - before_last - 1, text, at);
            }
            p += run * Size;
            bytes_done += run * Size;
            cells -= run;
            cells_on_line += static_cast<std::uint32_t>(run);
            if (cells_on_line == line_count) {
                if (bytes_done != input_size) at = put_text(at, "\r\n    ");
                cells_on_line = 0;
            }
        }
        byte_cursor partial(std::span(p, block.data() + block.size()));
        std::uint32_t value = 0;
        if (const int n = read_cell(partial, Size, value); n > 0) {
            bytes_done += static_cast<unsigned>(n);
            at = (bytes_done == input_size ? last_element : element).write(value, at);
        }
        return at;
    });
}

class c_array final : public export_format {
public:
    std::string_view name_suffix() const override { return "_qz.c"; }
    int default_cell_bits() const override { return 32; }
    bool needs_input_size() const override { return true; }

    // Everything before the first element: the name line, the declaration
    // with the element count (and, for 16- and 32-bit elements, the input
    // size), the opening brace and the indent of the first body line.
    void head(BlockWriter& out, const export_settings& settings,
              const export_context& context) const override {
        const std::uint64_t input_size = context.input_size.value_or(0);
        const std::uint64_t count = element_count(settings, input_size);
        out.put("\r\n//");
        out.put(context.output_name);
        out.put(", the following array is genearted by the tool: velkmill.exe\r\n\r\n\r\n");
        if (settings.fixed_width_types) out.put("#include <stdint.h>\r\n\r\n");
        if (settings.constant) out.put("const ");
        out.put(element_type(settings));
        out.put(" " + settings.array_name + "[" + std::to_string(count) + "] =");
        if (settings.cell_bits == 8) {
            out.put(" \r\n");
        } else {
            out.put("     //binary file size:" + std::to_string(input_size) + " Bytes\r\n");
        }
        out.put("{\r\n    ");
    }

    void cells(BlockReader& in, BlockWriter& out, const export_settings& settings,
               const export_context& context) const override {
        const std::uint64_t size = context.input_size.value_or(0);
        switch (settings.cell_bits) {
            case 8: return write_elements<1>(in, out, settings.per_line, size);
            case 16: return write_elements<2>(in, out, settings.per_line, size);
            default: return write_elements<4>(in, out, settings.per_line, size);
        }
    }

    void tail(BlockWriter& out, const export_settings& settings,
              const export_context& context) const override {
        out.put("\r\n};\r\n");
        if (settings.length_symbol) {
            out.put("\r\n");
            if (settings.constant) out.put("const ");
            out.put(length_type(settings));
            out.put(" " + settings.array_name + "_len = " +
                    std::to_string(context.input_size.value_or(0)) + ";\r\n");
        }
        out.put("\r\n//eof\r\n\r\n");
    }
};

}  // namespace

std::string c_array_declarations(const export_settings& settings, std::uint64_t input_size,
                                 std::string_view guard) {
    const std::string qualifier = settings.constant ? "const " : "";
    std::string text;
    text.append("#ifndef ").append(guard).append("\r\n#define ").append(guard).append("\r\n\r\n");
    if (settings.fixed_width_types) text.append("#include <stdint.h>\r\n\r\n");
    text.append("extern ").append(qualifier).append(element_type(settings)).append(" ");
    text.append(settings.array_name).append("[").append(std::to_string(element_count(settings, input_size)));
    text.append("];\r\n");
    if (settings.length_symbol) {
        text.append("extern ").append(qualifier).append(length_type(settings)).append(" ");
        text.append(settings.array_name).append("_len;\r\n");
    }
    text.append("\r\n#endif\r\n");
    return text;
}

const export_format& c_array_format() {
    static const c_array format;
    return format;
}

}  // namespace velk
