#include "export/txt.hpp"

#include <algorithm>
#include <span>

#include "cli/args.hpp"
#include "cli/names.hpp"
#include "export/cell.hpp"
#include "export/command.hpp"
#include "io/console.hpp"
#include "io/file.hpp"

namespace velk {

cmd_bin_txt_t cmd_bin_txt;

int parse_txt_options(int argc, const char* const* argv) {
    cmd_bin_txt_t& o = cmd_bin_txt;
    o.comma_status = option_present(argc, argv, "-c") != 0 ? 1 : 0;
    o.line_count = line_count_option(argc, argv);
    o.prefix_status = option_present(argc, argv, "-p") != 0 ? 1 : 0;
    o.cell_type = cell_type_option(argc, argv, 8);

    const int at = command_index(argc, argv, "-txt", "-TXT");
    if (at < 0) return 1;
    command_names(argc, argv, at, o.bin_file, o.txt_file_name);
    return 0;
}

const std::optional<std::string>& default_txt_file_name(const char* input) {
    cmd_bin_txt_t& o = cmd_bin_txt;
    return default_output_name(o.txt_file_name, o.name_derived, shown(input), "_qz.txt");
}

void release_txt_file_name() {
    release_output_name(cmd_bin_txt.txt_file_name, cmd_bin_txt.name_derived);
}

namespace {

// Every cell of the input, each followed by its separator, and a line end
// after every line_count cells (0 counts as 1); a partial last cell ends the
// dump, without a line end. The cells of a block up to the next line end
// go through one loop with nothing to check per cell.
template <int Size>
void write_cells(BlockReader& in, BlockWriter& out, const cmd_bin_txt_t& o) {
    const cell_text cell(o.prefix_status == 1, o.comma_status == 1 ? "," : " ");
    const std::uint32_t line_count = std::max<std::uint32_t>(o.line_count, 1);
    std::uint32_t cells_on_line = 0;
    for_each_block<Size>(in, out, cell_text::max_length + 2, [&](std::span<const std::uint8_t> block,
                                                                 std::uint8_t* at) {
        // A copy of its own, which the stores into the buffer cannot touch,
        // stays in registers.
        const cell_text text = cell;
        const std::uint8_t* p = block.data();
        for (std::size_t cells = block.size() / Size; cells != 0;) {
            const std::size_t run = std::min<std::size_t>(cells, line_count - cells_on_line);
            for (const std::uint8_t* const end = p + run * Size; p != end; p += Size) {
                at = text.write<Size>(load_cell<Size>(p), at);
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
        if (read_cell(partial, Size, value) > 0) at = text.write<Size>(value, at);
        return at;
    });
}

void write_cells(BlockReader& in, BlockWriter& out, const cmd_bin_txt_t& o) {
    switch (o.cell_type) {
        case 16: return write_cells<2>(in, out, o);
        case 32: return write_cells<4>(in, out, o);
        default: return write_cells<1>(in, out, o);
    }
}

int write_dump(File& input, const std::optional<std::string>& name) {
    File output = create_output(cmd_bin_txt.bin_file, name);
    if (!output) return 1;
    BlockReader in(input);
    BlockWriter out(output);
    write_cells(in, out, cmd_bin_txt);
    return finish_output(in, cmd_bin_txt.bin_file, out, output, *name);
}

}  // namespace

int bin2txt(int argc, const char* const* argv) {
    if (parse_txt_options(argc, argv) != 0) return 1;
    const cmd_bin_txt_t& o = cmd_bin_txt;
    say("binary file name:%s\r\n", shown(o.bin_file));
    say("comma status:%d\r\n", o.comma_status);
    say("prefix status:%d\r\n", o.prefix_status);
    say("type is %d bits\r\n", o.cell_type);

    File input = open_input(o.bin_file);
    if (!input) return 1;
    const std::optional<std::string>& name = default_txt_file_name(o.bin_file);
    say("text file name:%s\r\n", shown(name));
    const int result = write_dump(input, name);
    release_txt_file_name();
    return result;
}

}  // namespace velk
