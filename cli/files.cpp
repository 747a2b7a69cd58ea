#include "cli/files.hpp"

#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "cli/errors.hpp"
#include "io/platform.hpp"

namespace velk::cli {

std::string stem_of(const std::string& name) {
    const std::size_t slash = name.find_last_of("/\\");
    const std::size_t base_at = slash == std::string::npos ? 0 : slash + 1;
    const std::string base = name.substr(base_at);
    if (base.empty() || base == "-" || base == "." || base == "..") {
        usage_error("cannot derive an output name from '" + name + "'; name the output with -o");
    }
    const std::size_t dot = base.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return name;
    return name.substr(0, base_at + dot);
}

input_file open_input(const std::string& name, input_need need) {
    input_file input;
    input.name = name;
    if (name == "-") {
        if (need == input_need::known_size) {
            usage_error("this command needs the input's size first and cannot read standard input");
        }
        set_binary_stdin();
        input.file = File::adopt(stdin);
        return input;
    }
    const path_kind kind = kind_of(name);
    switch (kind) {
        case path_kind::missing: {
            const File probe = File::open(name, File::Mode::read);
            fail(exit_status::input, system_message(name, "cannot open", probe.last_error()));
        }
        case path_kind::directory:
            fail(exit_status::input, name + ": is a directory, not an image");
        case path_kind::other:
            if (need == input_need::known_size) {
                fail(exit_status::input,
                     name + ": not a regular file; its size must be known before it is read");
            }
            break;
        case path_kind::regular:
            break;
    }
    input.file = File::open(name, File::Mode::read);
    if (!input.file) {
        fail(exit_status::input, system_message(name, "cannot open", input.file.last_error()));
    }
    // A regular file's size is taken whether or not the command needs it:
    // with it, a large file can be converted in pieces.
    if (kind == path_kind::regular) input.size = input.file.size();
    if (need == input_need::known_size && !input.size) {
        fail(exit_status::input, name + ": cannot tell its size");
    }
    return input;
}

void check_outputs_apart(const std::vector<std::string>& outputs,
                         const std::vector<std::string>& inputs) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (outputs[i] == "-") continue;
        for (const std::string& input : inputs) {
            if (input != "-" && same_file(outputs[i], input)) {
                usage_error(outputs[i] + " is the input " + input +
                            "; writing it would destroy the input");
            }
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (same_file(outputs[i], outputs[j])) {
                usage_error("two outputs of this command would both be " + outputs[i]);
            }
        }
    }
}

output_file::output_file(const std::string& name)
    : output_(name == "-" ? Output::standard_output() : Output::create(name)) {
    if (!output_) fail(exit_status::output, system_message(name, "cannot create", output_.error()));
}

void output_file::commit() {
    if (!output_.commit()) {
        fail(exit_status::output, system_message(name(), "cannot write", output_.error()));
    }
}

void read_failed(const input_file& input) {
    fail(exit_status::input, system_message(input.name, "read error", input.file.last_error()));
}

void write_failed(const output_file& output) {
    fail(exit_status::output, system_message(output.name(), "write error", output.error_number()));
}

void failed(const fault& f, std::initializer_list<role_name> names) {
    std::string name = "velk";
    for (const role_name& n : names) {
        if (n.who == f.role) name = *n.name;
    }
    switch (f.what) {
        case fault_kind::read:
            fail(exit_status::input, system_message(name, "read error", f.error));
        case fault_kind::write:
            fail(exit_status::output, system_message(name, "write error", f.error));
        case fault_kind::memory:
            fail(exit_status::output, system_message(name, "cannot go on", f.error != 0 ? f.error : ENOMEM));
        case fault_kind::layout:
        case fault_kind::format:
            break;
    }
    fail(exit_status::input, name + ": cannot be laid out");
}

void commit_all(std::initializer_list<output_file*> outputs, bool quiet) {
    for (output_file* output : outputs) {
        if (output != nullptr) output->commit();
    }
    if (quiet) return;
    for (const output_file* output : outputs) {
        if (output == nullptr || output->to_standard_output()) continue;
        std::printf("%s: %" PRIu64 " bytes\n", output->name().c_str(), output->bytes());
    }
}

}  // namespace velk::cli
