// txt and c: the commands that export an image as text or C.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.hpp"
#include "cli/errors.hpp"
#include "cli/files.hpp"
#include "cli/inputs.hpp"
#include "cli/values.hpp"
#include "formats/export/export.hpp"

namespace velk::cli {
namespace {

#ifndef VELK_VERSION
#define VELK_VERSION "unknown"
#endif

// A file's name without its directory.
std::string_view file_part(std::string_view name) {
    const std::size_t slash = name.find_last_of("/\\");
    return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

// What velk's own C files say of themselves. The source includes its
// header by the header's file name alone: the two are written side by side
// or the header's directory is on the include path, and either way
// #include "name" finds it without the build's layout written into the
// generated source.
struct c_origin_names {
    std::string writer = std::string("velk ") + VELK_VERSION;
    std::string input;
    std::string header;
};

c_origin_names c_origin_of(const export_command_settings& s) {
    c_origin_names names;
    names.input = s.input == "-" ? "standard input" : std::string(file_part(s.input));
    if (s.header) {
        if (*s.header == "-") usage_error("--header: the C file includes it by name; it cannot be standard output");
        names.header = file_part(*s.header);
        if (!c_includable(names.header)) {
            usage_error("--header: '" + names.header + "' cannot be named in a C #include");
        }
    }
    return names;
}

void write_header(output_file& header, const export_settings& cells, const export_context& context) {
    const std::string text = c_header_text(cells, context, c_include_guard(context.origin.header_name));
    if (!header.write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()))) {
        write_failed(header);
    }
}

}  // namespace

void run_export(const export_format& format, const export_command_settings& s,
                const common_settings& common) {
    const bool c_file = &format == &c_source_format();
    const bool needs_size = format.needs_input_size();
    if (!s.output && s.input == "-") {
        usage_error("reading standard input, the output needs a name: -o NAME (or -o - for standard output)");
    }
    const c_origin_names origin = c_file ? c_origin_of(s) : c_origin_names{};
    const std::string name = s.output ? *s.output : stem_of(s.input) + std::string(format.name_suffix());
    image_input input(s.input, s.inputs, needs_size ? input_need::known_size : input_need::any_stream, needs_size);
    check_origin(s.inputs, input);
    input.place(s.inputs.origin, s.inputs.max_size, "");
    std::vector<std::string> outputs{name};
    if (s.header) outputs.push_back(*s.header);
    check_outputs_apart(outputs, {s.input});
    if (needs_size && input.size() == 0) {
        fail(exit_status::input, s.input + ": empty; an array of no elements is not C");
    }

    output_file output(name);
    std::optional<output_file> header;
    if (s.header) header.emplace(*s.header);
    const export_context context{name, input.size(), {origin.writer, origin.input, origin.header}};
    const result<std::uint64_t> written = write_export(format, s.cells, context, input.source(), output);
    if (!written) failed(written.error(), {{role::input, &s.input}, {role::output, &name}});
    if (header) write_header(*header, s.cells, context);
    commit_all({&output, header ? &*header : nullptr}, common.quiet);
}

}  // namespace velk::cli
