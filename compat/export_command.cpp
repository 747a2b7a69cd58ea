#include "compat/export_command.hpp"

#include "compat/args.hpp"
#include "compat/console.hpp"
#include "compat/inputs.hpp"
#include "compat/names.hpp"

namespace velk::compat {

int command_index(int argc, const char* const* argv, std::string_view lower,
                  std::string_view upper) {
    const int at = find_option(argc, argv, lower);
    return at >= 0 ? at : find_option(argc, argv, upper);
}

void command_names(int argc, const char* const* argv, int at, const char*& bin_file,
                   std::optional<std::string>& output_name) {
    bin_file = at + 1 < argc ? argv[at + 1] : nullptr;
    output_name.reset();
    if (at + 2 < argc && argv[at + 2] != nullptr && argv[at + 2][0] != '-') {
        output_name = argv[at + 2];
    }
}

std::int32_t cell_type_option(int argc, const char* const* argv, std::int32_t fallback) {
    const char* value = option_value(argc, argv, "-t");
    if (value == nullptr) return fallback;
    const std::uint32_t type = read_number(value);
    if (type == 8 || type == 16 || type == 32) return static_cast<std::int32_t>(type);
    say("set type exceptionally, and it will be 8, 16, 32.\r\n");
    return fallback;
}

std::uint32_t line_count_option(int argc, const char* const* argv) {
    const char* value = option_value(argc, argv, "-l");
    return value != nullptr ? read_number(value) : 16;
}

File open_input(const char* bin_file, input_use use) {
    File input;
    if (input_refused(bin_file, use, "\r\n")) return input;
    if (bin_file != nullptr) input = File::open(bin_file, File::Mode::read);
    if (!input) say("%s file can not be opened\r\n", shown(bin_file));
    return input;
}

File create_output(const char* bin_file, const std::optional<std::string>& output_name) {
    File output;
    if (output_name && overwrites_input(*output_name, {bin_file})) {
        say("%s file can not be created\r\n", output_name->c_str());
        return output;
    }
    if (output_name) output = File::open(*output_name, File::Mode::create);
    if (!output) say("%s file can not be created\r\n", shown(output_name));
    return output;
}

int export_to_file(const export_format& format, const export_settings& settings,
                   const char* bin_file, File& input, std::optional<std::uint64_t> input_size,
                   const std::optional<std::string>& output_name) {
    File output = create_output(bin_file, output_name);
    if (!output) return 1;
    const result<std::uint64_t> written =
        write_export(format, settings, {*output_name, input_size}, input, output);
    const bool closed = output.close();
    const bool read_failed = !written && written.error().role == role::input;
    const bool write_failed = !written && !read_failed;
    if (read_failed) say("%s file can not be read\r\n", shown(bin_file));
    if (write_failed || !closed) {
        say("%s file can not be written\r\n", output_name->c_str());
    }
    return written && closed ? 0 : 1;
}

}  // namespace velk::compat
