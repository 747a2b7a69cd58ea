#include "compat/c_command.hpp"

#include "compat/console.hpp"
#include "compat/export_command.hpp"
#include "compat/names.hpp"
#include "io/file.hpp"

namespace velk::compat {

std::optional<c_options> parse_c_options(int argc, const char* const* argv) {
    c_options o;
    o.cells.per_line = line_count_option(argc, argv);
    o.cells.cell_bits = cell_type_option(argc, argv, c_array_format().default_cell_bits());

    const int at = command_index(argc, argv, "-c", "-C");
    if (at < 0) return std::nullopt;
    command_names(argc, argv, at, o.bin_file, o.c_file_name);
    return o;
}

int bin2c(int argc, const char* const* argv) {
    const std::optional<c_options> parsed = parse_c_options(argc, argv);
    if (!parsed) return 1;
    const c_options& o = *parsed;
    say("binary file name:%s\r\n", shown(o.bin_file));
    say("c file name:%s\r\n", shown(o.c_file_name));
    say("type is %d bits\r\n", o.cells.cell_bits);

    // The declared element count comes from the measured size, before a
    // byte is read: an input of unknown length would be declared empty.
    File input = open_input(o.bin_file, input_use::measured);
    if (!input) return 1;
    const std::optional<std::uint64_t> input_size = input.size();
    if (!input_size) {
        say("%s file can not be read\r\n", o.bin_file);
        return 1;
    }
    const std::optional<std::string> name =
        o.c_file_name ? o.c_file_name
                      : derive_file_name(shown(o.bin_file), c_array_format().name_suffix());
    say("c file name:%s\r\n", shown(name));
    return export_to_file(c_array_format(), o.cells, o.bin_file, input, input_size, name);
}

}  // namespace velk::compat
