// crc, single and merge: the commands that build flash and OAD images.

#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.hpp"
#include "cli/errors.hpp"
#include "cli/files.hpp"
#include "cli/read_report.hpp"
#include "cli/values.hpp"
#include "formats/flash_crc/names.hpp"
#include "formats/core/hex.hpp"
#include "formats/flash_crc/writer.hpp"
#include "formats/readback/check.hpp"
#include "formats/oad/version.hpp"
#include "formats/intel_hex/writer.hpp"
#include "io/clock.hpp"

namespace velk::cli {
namespace {

std::string image_extension(image_encoding format) { return encoding_of(format).extension; }

// The flash image in the format asked for: bytes straight to the output,
// or records made on the way. `start`: the start address the records
// name, the base when none.
class image_writer {
public:
    image_writer(output_file& out, image_encoding format, std::uint32_t base,
                 std::optional<std::uint32_t> start = std::nullopt)
        : writer_(encoding_of(format).writer(out, encoding_write_options{base, start})) {}
    byte_sink& sink() { return writer_->sink(); }
    // Ends the records; false when a write failed.
    bool finish() { return writer_->finish(); }

private:
    std::unique_ptr<encoding_writer> writer_;
};

void check_hex_range(const flash_settings& s, std::uint64_t length) {
    if (!fits_in(encoding_of(s.format), s.base, length)) {
        usage_error("--base: an image of " + std::to_string(length) +
                    " bytes at that base runs past the 32-bit address space");
    }
}

// The twin's name for an image named `image` (stem_of refuses a name
// without a file name, as it does for every derived name).
std::string twin_name_for(const std::string& image) {
    static_cast<void>(stem_of(image));
    return twin_name(image);
}

// --verify reads the inputs again and the outputs back: neither may be a
// standard stream.
void check_verifiable(bool verify, const std::vector<std::string>& inputs,
                      const std::vector<std::string>& outputs) {
    if (!verify) return;
    for (const std::string& name : inputs) {
        if (name == "-") usage_error("--verify reads the input again; it cannot be standard input");
    }
    for (const std::string& name : outputs) {
        if (name == "-") usage_error("--verify reads the outputs back; they cannot be standard output");
    }
}

// Test seam, read by this front end only and only with --verify: when the
// environment variable VELK_TEST_CORRUPT_OUTPUT holds a byte offset, the
// byte there is inverted in every output long enough to have it, after
// the output is written and before it is read back. The tests use it to
// show that a write the system corrupted silently is caught and never put
// in place; nothing else sets it.
void corrupt_for_test(output_file& output) {
    const char* value = std::getenv("VELK_TEST_CORRUPT_OUTPUT");
    if (value == nullptr || *value == '\0') return;
    char* end = nullptr;
    const unsigned long long offset = std::strtoull(value, &end, 0);
    if (*end != '\0') return;
    File* file = output.read_back();
    std::uint8_t byte = 0;
    if (file == nullptr || !file->seek(offset) || file->read(std::span(&byte, 1)) != 1) return;
    byte = static_cast<std::uint8_t>(~byte);
    if (file->seek(offset)) file->write(std::span<const std::uint8_t>(&byte, 1));
}

// The output read back from its first byte, or exit status 1.
file_source read_back(output_file& output) {
    corrupt_for_test(output);
    File* file = output.read_back();
    const std::optional<std::uint64_t> size = file != nullptr ? file->size() : std::nullopt;
    if (!size) fail(exit_status::check_failed, output.name() + ": cannot be read back to verify it");
    return file_source(*file, *size);
}

// Reads an output back and checks it; exit status 1, with every problem
// on stderr, when it does not hold what it should. Nothing has been put in
// place yet, and the failure leaves every output where it was.
void verify_output(output_file& output, const read_options& options,
                   check_request request, const report_names& names) {
    const file_source file = read_back(output);
    const detection found = detect_image(file, options);
    if (found.read_failed) fail(exit_status::check_failed, output.name() + ": cannot be read back to verify it");
    const image_report report = check_image(file, found, options, request);
    if (report.ok()) return;
    std::fprintf(stderr, "velk: %s, read back:\n%s", output.name().c_str(),
                 problem_lines(report, names, "velk:   ").c_str());
    fail(exit_status::check_failed, output.name() +
                                        " does not hold what was written; no output was put in place");
}

// crc and single differ in their default names, in the end padding and in
// that single scrambles with the keys given.
struct flash_names {
    std::string image;
    std::string twin;
};

void write_flash_image(const flash_settings& s, const flash_names& names, bool pad,
                       const common_settings& common) {
    image_input input(s.input, s.inputs, input_need::known_size);
    check_origin(s.inputs, input);
    input.place(s.inputs.origin, s.inputs.max_size, "");
    std::vector<std::string> outputs{names.image};
    if (s.twin) outputs.push_back(names.twin);
    check_outputs_apart(outputs, {s.input});
    check_verifiable(s.verify, {s.input}, outputs);
    if (input.size()) check_hex_range(s, crc_image_size(*input.size()) + (pad ? 256 : 0));

    output_file image(names.image);
    std::optional<output_file> twin;
    if (s.twin) twin.emplace(names.twin);
    image_writer writer(image, s.format, s.base, input.start());
    const flash_crc_options encoding{s.keys, pad};
    const result<flash_crc_written> written =
        encode_flash_crc(input.source(), encoding, {writer.sink(), twin ? &*twin : nullptr});
    if (!written) {
        failed(written.error(), {{role::input, &s.input}, {role::image, &image.name()},
                                 {role::twin, twin ? &twin->name() : &names.twin}});
    }
    if (!input.size()) check_hex_range(s, crc_image_size(written->input_bytes) + (pad ? 256 : 0));
    if (!writer.finish()) write_failed(image);
    if (s.verify) {
        read_options options;
        options.choice.encoding = s.format;
        options.choice.family = pad ? kind_family::padded_flash_crc : kind_family::flash_crc;
        options.hex.base = s.base;
        check_request request;
        request.keys = s.keys;
        request.against_raw = &input.reread();
        report_names report;
        report.path = image.name();
        report.raw = s.input;
        std::optional<file_source> twin_back;
        if (twin) {
            request.twin = &twin_back.emplace(read_back(*twin));
            report.twin = twin->name();
        }
        verify_output(image, options, request, report);
    }
    commit_all({&image, twin ? &*twin : nullptr}, common.quiet);
}

// The version the headers carry, and one line on stderr saying where it
// came from when it was not given.
std::uint16_t image_version(const merge_settings& s, const common_settings& common) {
    if (s.image_version) return *s.image_version;
    const char* variable = environment_variable("SOURCE_DATE_EPOCH");
    const source_date epoch = read_source_date_epoch(variable);
    if (epoch.what == source_date::kind::malformed) {
        usage_error(std::string("SOURCE_DATE_EPOCH: '") + variable +
                    "' is not a number of seconds since 1970");
    }
    const std::optional<std::uint32_t> version = default_image_version(epoch, local_time_now);
    if (!version && epoch.what == source_date::kind::time) {
        usage_error(std::string("SOURCE_DATE_EPOCH: '") + variable + "' is beyond the calendar");
    }
    if (!version) fail(exit_status::usage, "cannot tell the time for the image version");
    const auto v = static_cast<std::uint16_t>(*version & 0xFFFFu);
    if (!common.quiet) {
        warn("image version " + hex_text(v, 4) +
             (epoch.what == source_date::kind::time
                  ? std::string(" from SOURCE_DATE_EPOCH=") + variable
                  : std::string(" from the clock (set --image-version or SOURCE_DATE_EPOCH "
                                "for reproducible images)")));
    }
    return v;
}

[[noreturn]] void layout_failed(const layout_error& e, const merge_settings& s, const merge_layout& layout) {
    using kind = layout_error::kind;
    using obstacle = layout_error::obstacle;
    // An offset the option did not give came from the input's address.
    const auto placed = [&](bool given, const std::string& name, const char* option) {
        return given ? std::string(option) + " " : name + ", placed by its address at offset ";
    };
    if (e.what == kind::no_stack_header_room) {
        fail(exit_status::input, placed(s.stack_at_given, s.stack, "--stack-at") + hex_text(e.at) +
                                     " leaves no room for the 16-byte stack header before it");
    }
    if (e.what == kind::no_app_header_room) {
        fail(exit_status::input, placed(s.app_at_given, s.app, "--app-at") + hex_text(e.at) +
                                     " leaves no room for the 16-byte app header after the "
                                     "stack at " + hex_text(layout.stack_at));
    }
    const char* into = e.into == obstacle::stack_header  ? "the stack header"
                       : e.into == obstacle::stack_image ? "the stack image"
                       : e.into == obstacle::app_header  ? "the app header"
                                                         : "the app image";
    const std::string& name = e.part == merge_part::boot ? s.boot : s.stack;
    fail(exit_status::input, name + ": " + hex_text(e.part_length) +
                                 " bytes long, it runs into " + into + " at " + hex_text(e.at));
}

// Where each input of a merge goes. The origin is the address of the
// merged image's offset 0 in the inputs' address space: --origin, else the
// boot input's first address when it carries addresses. An input with
// addresses goes where its address says unless its option is given, and
// must then agree with it; without an origin it is placed by its option
// (or the default) and laid out from its own first address.
merge_layout place_merge_inputs(const merge_settings& s, image_input& boot, image_input& stack, image_input& app) {
    if (s.inputs.origin && !boot.map() && !stack.map() && !app.map()) {
        usage_error("--origin: none of the inputs carries addresses (ELF, Intel HEX or S-records)");
    }
    const std::optional<std::uint64_t> origin =
        s.inputs.origin ? s.inputs.origin : boot.map() ? std::optional(boot.lo()) : std::nullopt;
    merge_layout layout = s.layout;
    boot.place(origin, s.inputs.max_size, origin ? "the merged image starts at " + hex_text(*origin) : "");
    const auto slot = [&](image_input& in, std::uint64_t& at, bool given, const char* option) {
        if (in.map() == nullptr) return;
        if (!origin) {
            in.place(std::nullopt, s.inputs.max_size, "");
            return;
        }
        if (in.lo() < *origin) {
            fail(exit_status::input, in.name() + ": data at " + hex_text(in.lo()) +
                                         ", below the merged image's start " + hex_text(*origin));
        }
        if (given && in.lo() - *origin != at) {
            fail(exit_status::input, in.name() + ": its data start at " + hex_text(in.lo()) + ", offset " +
                                         hex_text(in.lo() - *origin) + " from " + hex_text(*origin) +
                                         ", but " + option + " " + hex_text(at) + " puts it at " +
                                         hex_text(*origin + at));
        }
        if (!given) {
            if (in.lo() - *origin > UINT32_MAX) {
                fail(exit_status::input, in.name() + ": its data start at " + hex_text(in.lo()) + ", " +
                                             hex_text(in.lo() - *origin) + " past the merged image's start " +
                                             hex_text(*origin) + "; give " + option + " and --origin");
            }
            at = in.lo() - *origin;
        }
        in.place(*origin + at, s.inputs.max_size, std::string(option) + " " + hex_text(at));
    };
    slot(stack, layout.stack_at, s.stack_at_given, "--stack-at");
    slot(app, layout.app_at, s.app_at_given, "--app-at");
    return layout;
}

}  // namespace

void run_crc(const flash_settings& s, const common_settings& common) {
    const std::string stem = s.output ? std::string() : stem_of(s.input);
    flash_names names;
    names.image = s.output ? *s.output : stem + "_crc" + image_extension(s.format);
    names.twin = s.output ? twin_name_for(*s.output) : default_twin_name(s.input, twin_default::crc);
    write_flash_image(s, names, false, common);
}

void run_single(const flash_settings& s, const common_settings& common) {
    const std::string stem = s.output ? std::string() : stem_of(s.input);
    flash_names names;
    names.image = s.output ? *s.output : stem + "_crc" + image_extension(s.format);
    names.twin = s.output ? twin_name_for(*s.output) : default_twin_name(s.input, twin_default::single);
    write_flash_image(s, names, true, common);
}

void run_merge(const merge_settings& s, const common_settings& common) {
    const std::string prefix = s.prefix ? *s.prefix : stem_of(s.app);
    const std::string merged_name = prefix + "_merge" + image_extension(s.format);
    const std::string stack_name = prefix + "_stack.bin";
    const std::string app_name = prefix + "_app.bin";

    image_input boot(s.boot, s.inputs, input_need::known_size);
    image_input stack(s.stack, s.inputs, input_need::known_size);
    image_input app(s.app, s.inputs, input_need::known_size);
    merge_layout layout = place_merge_inputs(s, boot, stack, app);
    // For the messages: which offsets the options gave.
    merge_settings placed_by = s;
    placed_by.stack_at_given = s.stack_at_given || stack.map() == nullptr;
    placed_by.app_at_given = s.app_at_given || app.map() == nullptr;
    for (image_input* in : {&boot, &stack, &app}) {
        if (!in->size()) fail(exit_status::input, in->name() + ": not a regular file; its size must be known before it is read");
    }
    if (const auto e = check_layout(layout)) layout_failed(*e, placed_by, layout);
    const std::uint16_t version = image_version(s, common);
    const random_source& boot_data = *boot.source().positional();
    const random_source& stack_data = *stack.source().positional();
    const random_source& app_data = *app.source().positional();
    const merge_inputs data{boot_data, stack_data, app_data};
    if (const auto e = check_fit(layout, merge_part::boot, boot_data)) layout_failed(*e, s, layout);
    if (const auto e = check_fit(layout, merge_part::stack, stack_data)) layout_failed(*e, s, layout);
    check_outputs_apart({merged_name, stack_name, app_name}, {s.boot, s.stack, s.app});
    check_verifiable(s.verify, {s.boot, s.stack, s.app}, {merged_name, stack_name, app_name});

    const merge_plan plan = merge_plan::of(layout, data);
    if (plan.total_length() > s.inputs.max_size) {
        fail(exit_status::input, "the merged image would be " + std::to_string(plan.total_length()) +
                                     " bytes (the app at " + hex_text(layout.app_at) + ", " +
                                     std::to_string(plan.app_length) + " bytes long), more than --max-size " +
                                     std::to_string(s.inputs.max_size));
    }
    if (!fits_in(encoding_of(s.format), s.base, plan.total_length())) {
        usage_error("--base: the merged image of " + std::to_string(plan.total_length()) +
                    " bytes at that base runs past the 32-bit address space");
    }
    const merge_header_fields fields{version, s.stack_uid, s.app_uid, s.rom_version};
    for (const auto& [what, length] : {std::pair{"stack", plan.stack_image_length()},
                                       std::pair{"app", plan.app_image_length()}}) {
        if (length >= length_words_limit) {
            warn(std::string("the ") + what + " OAD image is " + hex_text(length) +
                 " bytes long; its header's length_words keeps only the low 16 bits of " +
                 hex_text(length / 4) + " words");
        }
    }

    output_file merged(merged_name);
    output_file stack_image(stack_name);
    output_file app_image(app_name);
    // The records' start address is where the boot image says the processor starts.
    image_writer writer(merged, s.format, s.base, boot.start());
    const result<merge_headers> headers =
        merge_images(plan, fields, data, {&writer.sink(), &stack_image, &app_image});
    if (!headers) {
        failed(headers.error(), {{role::boot, &s.boot}, {role::stack, &s.stack}, {role::app, &s.app},
                                 {role::merged, &merged_name}, {role::stack_image, &stack_name},
                                 {role::app_image, &app_name}});
    }
    if (!writer.finish()) write_failed(merged);
    if (s.verify) {
        // Each output against the three inputs and the headers written.
        const std::array<image_input*, 3> inputs{&boot, &stack, &app};
        const std::array<std::pair<output_file*, kind_family>, 3> outputs{
            std::pair{&merged, kind_family::merged}, std::pair{&stack_image, kind_family::oad_stack},
            std::pair{&app_image, kind_family::oad_app}};
        for (const auto& [output, family] : outputs) {
            read_options options;
            options.layout = layout;
            options.choice.encoding = output == &merged ? s.format : image_encoding::binary;
            options.choice.family = family;
            options.hex.base = s.base;
            check_request request;
            std::array<part_input, 3> parts;
            report_names report;
            report.path = output->name();
            for (std::size_t i = 0; i < inputs.size(); ++i) {
                parts[i] = {&inputs[i]->reread(), *inputs[i]->size()};
                report.parts[i] = inputs[i]->name();
            }
            request.expect.parts = parts;
            request.expect.stack_header = headers->stack;
            request.expect.app_header = headers->app;
            verify_output(*output, options, request, report);
        }
    }
    commit_all({&merged, &stack_image, &app_image}, common.quiet);
}

}  // namespace velk::cli
