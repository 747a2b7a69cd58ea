#include "compat/txt_command.hpp"

#include "compat/args.hpp"
#include "compat/console.hpp"
#include "compat/export_command.hpp"
#include "compat/names.hpp"
#include "io/file.hpp"

namespace velk::compat {

std::optional<txt_options> parse_txt_options(int argc, const char* const* argv) {
    txt_options o;
    o.cells.comma = option_present(argc, argv, "-c") != 0;
    o.cells.per_line = line_count_option(argc, argv);
    o.cells.prefix = option_present(argc, argv, "-p") != 0;
    o.cells.cell_bits = cell_type_option(argc, argv, text_dump_format().default_cell_bits());

    const int at = command_index(argc, argv, "-txt", "-TXT");
    if (at < 0) return std::nullopt;
    command_names(argc, argv, at, o.bin_file, o.txt_file_name);
    return o;
}

int bin2txt(int argc, const char* const* argv) {
    const std::optional<txt_options> parsed = parse_txt_options(argc, argv);
    if (!parsed) return 1;
    const txt_options& o = *parsed;
    say("binary file name:%s\r\n", shown(o.bin_file));
    say("comma status:%d\r\n", o.cells.comma ? 1 : 0);
    say("prefix status:%d\r\n", o.cells.prefix ? 1 : 0);
    say("type is %d bits\r\n", o.cells.cell_bits);

    // The dump needs no length: pipes, FIFOs and devices are read to their end.
    File input = open_input(o.bin_file, input_use::streamed);
    if (!input) return 1;
    const std::optional<std::string> name =
        o.txt_file_name ? o.txt_file_name
                        : derive_file_name(shown(o.bin_file), text_dump_format().name_suffix());
    say("text file name:%s\r\n", shown(name));
    return export_to_file(text_dump_format(), o.cells, o.bin_file, input, std::nullopt, name);
}

}  // namespace velk::compat
