// info, verify and unpack: the commands that read images back.

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.hpp"
#include "cli/errors.hpp"
#include "cli/files.hpp"
#include "cli/inputs.hpp"
#include "cli/read_report.hpp"
#include "cli/report_words.hpp"
#include "formats/flash_crc/names.hpp"
#include "formats/core/hex.hpp"
#include "formats/readback/check.hpp"

namespace velk::cli {
namespace {

read_options options_of(const merge_layout& layout, const kind_choice& kind, std::optional<std::uint32_t> base) {
    if (check_layout(layout)) {
        usage_error("--stack-at " + hex_text(layout.stack_at) + " --app-at " + hex_text(layout.app_at) +
                    ": each header needs 16 bytes before its image, the app's after the stack's");
    }
    read_options options;
    options.layout = layout;
    options.choice = kind;
    if (base) options.hex.base = *base;
    return options;
}

bool is_flash(std::optional<kind_family> family) {
    return family == kind_family::flash_crc || family == kind_family::padded_flash_crc ||
           family == kind_family::flash_crc_any;
}

bool is_merged(std::optional<kind_family> family) {
    return family == kind_family::merged || family == kind_family::merged_or_oad ||
           family == kind_family::oad || family == kind_family::oad_stack || family == kind_family::oad_app;
}

// The inputs --against names, opened once for every file of the run and
// read as the build commands read them: a flash CRC image made of an ELF
// file holds that file's bytes laid out from its lowest address (or
// --origin), and the stack and app of a merge each from its own.
struct against_inputs {
    std::unique_ptr<image_input> raw;
    std::vector<std::unique_ptr<image_input>> parts;  // boot, stack, app
};

std::unique_ptr<image_input> open_against_input(const std::string& name, const input_settings& in) {
    // Each file of the run is compared with the input from its first byte:
    // standard input cannot be read again, and is refused as it always was.
    if (name == "-") open_input(name, input_need::known_size);
    return std::make_unique<image_input>(name, in, input_need::known_size);
}

against_inputs open_against(const std::vector<std::string>& names, const input_settings& in) {
    against_inputs a;
    if (names.size() == 1) {
        a.raw = open_against_input(names[0], in);
        check_origin(in, *a.raw);
        a.raw->place(in.origin, in.max_size, "");
    }
    if (names.size() == 3) {
        for (const std::string& name : names) a.parts.push_back(open_against_input(name, in));
        if (in.origin && std::none_of(a.parts.begin(), a.parts.end(), [](const auto& p) { return p->map() != nullptr; })) {
            usage_error("--origin: none of the inputs carries addresses (ELF, Intel HEX or S-records)");
        }
        a.parts[0]->place(in.origin, in.max_size, in.origin ? "the merged image starts at " + hex_text(*in.origin) : "");
        a.parts[1]->place(std::nullopt, in.max_size, "");
        a.parts[2]->place(std::nullopt, in.max_size, "");
    }
    return a;
}

// What an unrecognised file is as an input that says where its bytes go,
// read and laid out as crc, single and merge would. Nothing when it is
// raw bytes, or text that starts like records and does not read as them:
// the kinds tried say more of that than the reader would. `error` is set
// for an ELF file that breaks ELF's rules, an input with two different
// bytes at one address, or one with data below --origin: exit status 3,
// as the build commands refuse them.
std::optional<input_summary> probe_input(const std::string& path, File& file, std::uint64_t size,
                                         const input_settings& in, std::optional<std::string>& error) {
    const file_source whole(file, size);
    std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uint64_t>(size, input_head_bytes)));
    if (!whole.read_at(0, head)) return std::nullopt;
    const input_encoding_info& encoding = in.format ? input_encoding_of(*in.format) : detect_input(head);
    if (encoding.read == nullptr) return std::nullopt;
    std::string why;
    scratch_file spool;  // the map reads a text input's data from here
    result<address_map> map = encoding.read(whole, spool, why);
    if (!map) {
        if (map.error().what == fault_kind::read) {
            error = system_message(path, "read error", map.error().error);
        } else if (in.format || encoding.what == input_encoding::elf) {
            error = path + ": " + why;
        }
        return std::nullopt;
    }
    sort_extents(*map);
    if (!check_overlaps(*map, why)) {
        error = path + ": " + why;
        return std::nullopt;
    }
    if (in.crop) map = crop(std::move(*map), in.crop->first, in.crop->second);
    input_summary s;
    s.encoding = encoding.what;
    for (const extent& e : map->extents) s.segments.push_back({e.address, e.length, e.label});
    s.start = map->start;
    s.origin = in.origin.value_or(lo(*map));
    if (!check_span(*map, s.origin, UINT64_MAX, why)) {
        error = path + ": " + why + " (--origin " + hex_text(s.origin) + ")";
        return std::nullopt;
    }
    s.image_size = map->extents.empty() ? 0 : hi(*map) - s.origin;
    s.max_size = in.max_size;
    return s;
}

// Whether an unrecognised text file that reads as an input may still be
// one of velk's own images: velk writes one stretch of records, without a
// start record in Intel HEX, and leaves out the image's leading 0xFF
// bytes, so its first record may lie past any base detection tried. The
// bases tried, and --base, say more of such a file than its segment does.
// ELF, gaps, overlaps and HEX start records velk never writes.
bool may_be_own_image(const input_summary& in, const detection& d) {
    if (in.encoding == input_encoding::elf || d.bases_tried.empty() || in.segments.size() != 1) return false;
    return in.encoding == input_encoding::srec || !in.start;
}

// Opens a file to read back; why not, when it cannot be.
std::optional<std::string> open_image(const std::string& path, File& file) {
    switch (kind_of(path)) {
        case path_kind::directory:
            return path + ": a directory, not an image file; tried no kind, there is nothing to read";
        case path_kind::other:
            return path + ": not a regular file; tried no kind, its length cannot be known";
        case path_kind::missing:
        case path_kind::regular:
            break;
    }
    file = File::open(path, File::Mode::read);
    if (!file) return system_message(path, "cannot open", file.last_error());
    return std::nullopt;
}

// The twin velk writes beside a flash CRC image, when there is one: the
// names it may have are the engine's, and the first that is a file of its
// own is taken.
std::optional<std::string> twin_beside(const std::string& path, image_kind kind) {
    const twin_default which = kind == image_kind::padded_flash_crc ? twin_default::single : twin_default::crc;
    for (const std::string& name : twin_names_for(path, which)) {
        if (name != path && kind_of(name) == path_kind::regular && !same_file(name, path)) return name;
    }
    return std::nullopt;
}

file_outcome read_one(const std::string& path, const read_options& options, const read_settings& s,
                      against_inputs& against, bool verify) {
    file_outcome o;
    o.names.path = path;
    File file;
    if (const auto why = open_image(path, file)) {
        o.error = *why;
        return o;
    }
    o.size = file.size();
    if (!o.size) {
        o.error = system_message(path, "read error", file.last_error());
        return o;
    }
    const file_source whole(file, *o.size);
    const detection d = detect_image(whole, options);
    o.found = d;
    if (d.read_failed) {
        o.error = system_message(path, "read error", file.last_error());
        return o;
    }
    if (!d.recognised) {
        if (o.size) o.input = probe_input(path, file, *o.size, s.inputs, o.error);
        if (o.input && may_be_own_image(*o.input, d)) o.input.reset();
        if (o.input && verify) {
            o.error = path + ": an " + std::string(words::input_encoding_words(o.input->encoding)) +
                      " input, not an image velk writes; build one with velk crc, single or merge";
        }
        if (!o.input && !o.error) o.error = path + ": not an image velk reads; tried " + tried_text(d);
        return o;
    }

    check_request request;
    File twin;
    std::optional<file_source> twin_whole;
    if (verify) {
        request.keys = s.keys.value_or(default_scramble_keys);
        if (against.raw) {
            request.against_raw = &against.raw->reread();
            o.names.raw = against.raw->name();
        }
        if (against.parts.size() == 3) {
            std::array<part_input, 3> parts;
            for (std::size_t i = 0; i < 3; ++i) {
                parts[i] = {&against.parts[i]->reread(), *against.parts[i]->size()};
                o.names.parts[i] = against.parts[i]->name();
            }
            request.expect.parts = parts;
        }
        const bool flash = d.kind == image_kind::flash_crc || d.kind == image_kind::padded_flash_crc;
        if (flash && d.encoding != image_encoding::text_twin) {
            if (const auto name = twin_beside(path, d.kind)) {
                twin = File::open(*name, File::Mode::read);
                if (const std::optional<std::uint64_t> size = twin ? twin.size() : std::nullopt) {
                    request.twin = &twin_whole.emplace(twin, *size);
                    o.names.twin = *name;
                }
            }
        }
    }
    o.report = check_image(whole, d, options, request);
    return o;
}

int run_read(const read_settings& s, bool verify) {
    kind_choice kind = s.kind;
    if (s.against.size() == 1) {
        if (kind.family && !is_flash(kind.family)) usage_error("--against RAW reads flash CRC images; --kind says otherwise");
        if (!kind.family) kind.family = kind_family::flash_crc_any;
    } else if (s.against.size() == 3) {
        if (kind.family && !is_merged(kind.family)) {
            usage_error("--against BOOT,STACK,APP reads merged and OAD images; --kind says otherwise");
        }
        if (!kind.family) kind.family = kind_family::merged_or_oad;
    } else if (!s.against.empty()) {
        usage_error("--against takes one raw image, or three images BOOT,STACK,APP separated by commas");
    }
    const read_options options = options_of(s.layout, kind, s.base);
    against_inputs against = open_against(s.against, s.inputs);

    std::vector<file_outcome> outcomes;
    bool unreadable = false;
    bool failed = false;
    for (const std::string& path : s.files) {
        file_outcome o = read_one(path, options, s, against, verify);
        if (o.error) {
            unreadable = true;
            std::fprintf(stderr, "velk: %s\n", o.error->c_str());
        } else if (o.report && !o.report->ok()) {  // an input has no report
            failed = true;
        }
        if (!s.json) {
            const std::string text = verify ? verify_text(o) : info_text(o);
            std::fputs(text.c_str(), stdout);
        }
        outcomes.push_back(std::move(o));
    }
    if (s.json) std::fputs(json_document(verify ? "verify" : "info", outcomes).c_str(), stdout);
    if (unreadable) return static_cast<int>(exit_status::input);
    if (verify && failed) return static_cast<int>(exit_status::check_failed);
    return 0;
}

}  // namespace

int run_info(const read_settings& settings) { return run_read(settings, false); }

int run_verify(const read_settings& settings) { return run_read(settings, true); }

void run_unpack(const unpack_settings& s, const common_settings& common) {
    kind_choice kind = s.kind;
    if (kind.family && !is_flash(kind.family)) usage_error("--kind: unpack reads flash CRC images only");
    if (!kind.family) kind.family = kind_family::flash_crc_any;
    const read_options options = options_of(merge_layout{}, kind, s.base);
    const std::string name = s.output ? *s.output : stem_of(s.image) + "_raw.bin";
    input_file input = open_input(s.image, input_need::known_size);
    check_outputs_apart({name}, {s.image});

    const file_source whole(input.file, *input.size);
    const detection d = detect_image(whole, options);
    if (d.read_failed) read_failed(input);
    if (s.length) {
        const std::string data = std::to_string(d.flash.data_bytes()) + " data bytes in " +
                                 std::to_string(d.flash.blocks) + " blocks";
        switch (check_cut(d.flash, *s.length)) {
            case cut_fault::longer_than_data:
                fail(exit_status::check_failed, s.image + ": --length " + std::to_string(*s.length) +
                                                    " is more than the image holds: " + data);
            case cut_fault::drops_blocks:
                fail(exit_status::check_failed, s.image + ": --length " + std::to_string(*s.length) +
                                                    " would drop whole blocks of the " + data +
                                                    "; the image was not made from that many bytes");
            case cut_fault::none:
                break;
        }
    }

    output_file output(name);
    std::optional<cut_sink> cut;
    check_request request;
    request.keys = s.keys;
    // The twin beside the image, when there is one, is checked as verify
    // checks it: it tells blocks that were moved or lost, which their own
    // CRCs cannot.
    report_names names;
    names.path = s.image;
    File twin;
    std::optional<file_source> twin_whole;
    if (d.encoding != image_encoding::text_twin) {
        if (const auto twin_name = twin_beside(s.image, d.kind)) {
            twin = File::open(*twin_name, File::Mode::read);
            if (const std::optional<std::uint64_t> size = twin ? twin.size() : std::nullopt) {
                request.twin = &twin_whole.emplace(twin, *size);
                names.twin = *twin_name;
            }
        }
    }
    request.data = s.length ? &cut.emplace(output, *s.length) : static_cast<byte_sink*>(&output);
    const image_report report = check_image(whole, d, options, request);
    if (report.data_failed) write_failed(output);
    if (report.problems.total(check::read_error) != 0) read_failed(input);
    if (!report.ok()) {
        std::fputs(problem_lines(report, names, "velk:   ").c_str(), stderr);
        const std::uint64_t count = report.problems.total();
        fail(exit_status::check_failed, s.image + ": " + std::to_string(count) +
                                            (count == 1 ? " problem" : " problems") + " (listed above); " + name +
                                            " was not written");
    }
    if (cut && cut->dropped_data() != 0) {
        fail(exit_status::check_failed,
             s.image + ": --length " + std::to_string(*s.length) + " would drop " +
                 std::to_string(cut->dropped_data()) +
                 " bytes that are not the 0xFF the last block was filled with; " + name + " was not written");
    }
    commit_all({&output}, common.quiet);
}

}  // namespace velk::cli
