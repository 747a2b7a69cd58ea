#include "export/c_array.hpp"

#include <string_view>

#include "cli/names.hpp"
#include "export/cell.hpp"
#include "export/command.hpp"
#include "io/console.hpp"
#include "io/file.hpp"

namespace velk {

cmd_bin_c_t cmd_bin_c;

int parse_c_options(int argc, const char* const* argv) {
    cmd_bin_c_t& o = cmd_bin_c;
    o.line_count = line_count_option(argc, argv);
    o.cell_type = cell_type_option(argc, argv, 32);

    const int at = command_index(argc, argv, "-c", "-C");
    if (at < 0) return 1;
    command_names(argc, argv, at, o.bin_file, o.c_file_name);
    return 0;
}

const std::optional<std::string>& default_c_file_name(const char* input) {
    cmd_bin_c_t& o = cmd_bin_c;
    return default_output_name(o.c_file_name, o.name_derived, shown(input), "_qz.c");
}

void release_c_file_name() { release_output_name(cmd_bin_c.c_file_name, cmd_bin_c.name_derived); }

namespace {

// Everything before the first element: the name line, the declaration
// with the element count (and, for 16- and 32-bit elements, the input
// size), the opening brace and the indent of the first body line.
void write_head(BlockWriter& out, const std::string& name, std::int32_t cell_type,
                std::uint64_t input_size) {
    const auto size = static_cast<std::uint64_t>(cell_type / 8);
    const std::uint64_t count = (input_size + size - 1) / size;
    const std::string_view type_word = cell_type == 8    ? "unsigned char"
                                       : cell_type == 16 ? "unsigned short"
                                                         : "unsigned int";
    out.put("\r\n//");
    out.put(name);
    out.put(", the following array is genearted by the tool: velkmill.exe\r\n\r\n\r\n");
    out.put(type_word);
    out.put(" bin2array[" + std::to_string(count) + "] =");
    if (cell_type == 8) {
        out.put(" \r\n");
    } else {
        out.put("     //binary file size:" + std::to_string(input_size) + " Bytes\r\n");
    }
    out.put("{\r\n    ");
}

// The elements, each but the last followed by ", ", and a new indented
// line after every line_count elements unless the last one was just
// written. The last element is the one that reaches the measured size; a
// read that ends early leaves the separator on the element before.
template <int Size>
void write_elements(BlockReader& in, BlockWriter& out, std::uint32_t line_count,
                    std::uint64_t input_size) {
    const cell_text element(true, ", ");
    const cell_text last_element(true, "");
    std::uint64_t bytes_done = 0;
    std::uint32_t cells_on_line = 0;
    for_each_block<Size>(in, out, cell_text::max_length + 6, [&](std::span<const std::uint8_t> block,
                                                                 std::uint8_t* at) {
        byte_cursor cells(block);
        std::uint32_t value = 0;
        for (;;) {
            const int n = read_cell(cells, Size, value);
            if (n > 0) {
                bytes_done += static_cast<unsigned>(n);
                const cell_text& text = bytes_done == input_size ? last_element : element;
                at = text.write<Size>(value, at);
            }
            if (n < Size) break;
            if (++cells_on_line >= line_count) {
                if (bytes_done != input_size) at = put_text(at, "\r\n    ");
                cells_on_line = 0;
            }
        }
        return at;
    });
}

void write_elements(BlockReader& in, BlockWriter& out, const cmd_bin_c_t& o,
                    std::uint64_t input_size) {
    switch (o.cell_type) {
        case 8: return write_elements<1>(in, out, o.line_count, input_size);
        case 16: return write_elements<2>(in, out, o.line_count, input_size);
        default: return write_elements<4>(in, out, o.line_count, input_size);
    }
}

int write_c_file(File& input, std::uint64_t input_size, const std::optional<std::string>& name) {
    File output = create_output(cmd_bin_c.bin_file, name);
    if (!output) return 1;
    BlockReader in(input);
    BlockWriter out(output);
    write_head(out, *name, cmd_bin_c.cell_type, input_size);
    write_elements(in, out, cmd_bin_c, input_size);
    out.put("\r\n};\r\n\r\n//eof\r\n\r\n");
    return finish_output(in, cmd_bin_c.bin_file, out, output, *name);
}

}  // namespace

int bin2c(int argc, const char* const* argv) {
    if (parse_c_options(argc, argv) != 0) return 1;
    const cmd_bin_c_t& o = cmd_bin_c;
    say("binary file name:%s\r\n", shown(o.bin_file));
    say("c file name:%s\r\n", shown(o.c_file_name));
    say("type is %d bits\r\n", o.cell_type);

    File input = open_input(o.bin_file);
    if (!input) return 1;
    const std::optional<std::uint64_t> input_size = file_size(input);
    if (!input_size) {
        say("%s file can not be read\r\n", o.bin_file);
        return 1;
    }
    const std::optional<std::string>& name = default_c_file_name(o.bin_file);
    say("c file name:%s\r\n", shown(name));
    const int result = write_c_file(input, *input_size, name);
    release_c_file_name();
    return result;
}

}  // namespace velk
