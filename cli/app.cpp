#include "cli/app.hpp"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <new>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>
#include <string>
#include <string_view>
#include <variant>

#include "cli/command_line.hpp"
#include "cli/commands.hpp"
#include "cli/errors.hpp"
#include "cli/values.hpp"
#include "io/platform.hpp"

#ifndef VELK_VERSION
#define VELK_VERSION "unknown"
#endif

namespace velk::cli {
namespace {

constexpr std::uint64_t max16 = 0xFFFF;
constexpr std::uint64_t max32 = 0xFFFFFFFF;

// What a command does once its command line is read: it runs outside the
// parse, so that an error in the command line and one in running the
// command are told apart (only the first points to the help).
using runner = std::function<void()>;

// Every command's settings; the one whose command runs is filled in.
struct settings {
    common_settings common;
    flash_settings flash;
    merge_settings merge;
    export_command_settings txt;
    export_command_settings c;
    read_settings read;
    unpack_settings unpack;
    int status = 0;  // of info and verify, which go on past a file that fails
};

// A number option, read strictly by parse_number when it is seen.
template <class T>
void number_option(CLI::App& app, const std::string& flag, T& target, std::uint64_t max,
                   const std::string& help) {
    const std::string name = flag.substr(flag.find_last_of(',') + 1);
    app.add_option_function<std::string>(
           flag,
           [&target, name, max](const std::string& text) {
               target = static_cast<T>(parse_number(name, text, max));
           },
           help)
        ->type_name("N");
}

void quiet_option(CLI::App& app, settings& s, const std::string& help = "print nothing on stdout") {
    app.add_flag("-q,--quiet", s.common.quiet, help);
}

void format_options(CLI::App& app, image_encoding& format, std::uint32_t& base) {
    app.add_option_function<std::string>(
           "--format",
           [&format](const std::string& text) { format = parse_format("--format", text); }, format_help())
        ->type_name(format_names());
    number_option(app, "--base", base, max32, "address of the image's first byte in Intel HEX");
}

// How image operands are read and placed.
void input_options(CLI::App& app, input_settings& in) {
    std::string names;
    for (const input_encoding_info& row : input_encodings()) names += std::string(names.empty() ? "" : "|") + row.name;
    app.add_option_function<std::string>(
           "--input-format",
           [&in](const std::string& text) {
               if (text == "auto") {
                   in.format.reset();
                   return;
               }
               const input_encoding_info* row = input_encoding_named(text);
               if (row == nullptr) usage_error("--input-format: '" + text + "' is not auto or an input encoding");
               in.format = row->what;
           },
           "read the inputs as this instead of telling it from their content (auto)")
        ->type_name("auto|" + names);
    app.add_option_function<std::string>(
           "--origin", [&in](const std::string& text) { in.origin = parse_number("--origin", text, UINT64_MAX); },
           "address of the image's first byte in the inputs' address space (default: their lowest)")
        ->type_name("ADDR");
    app.add_option_function<std::string>(
           "--max-size", [&in](const std::string& text) { in.max_size = parse_size("--max-size", text); },
           "refuse an image or merge larger than this, before writing (256M)")
        ->type_name("SIZE");
    app.add_option_function<std::string>(
           "--crop", [&in](const std::string& text) { in.crop = parse_range("--crop", text); },
           "keep only the inputs' data in [START, END) before laying them out")
        ->type_name("START,END");
}

// --base says where records put the image: only encodings with addresses
// have it, and the inputs' address space is --origin's.
void check_base(const CLI::App& app, image_encoding format) {
    if (app.count("--base") != 0 && format == image_encoding::binary) {
        usage_error("--base: a binary image has no addresses; it goes with --format hex (for the "
                    "inputs' addresses, see --origin)");
    }
}

void keys_option(CLI::App& app, scramble_keys& keys) {
    app.add_option_function<std::string>(
           "--keys", [&keys](const std::string& text) { keys = parse_keys("--keys", text); },
           "scramble keys K1,K2,K3,CONTROL: 1 to 8 hex digits each (default "
           "00A5A5A5 four times, which scrambles nothing)")
        ->type_name("K1,K2,K3,K4");
}

void verify_flag(CLI::App& app, bool& verify) {
    app.add_flag("--verify", verify,
                 "read the outputs back and check them against the inputs before they are put in "
                 "place; if they fail, none is (exit status 1)");
}

void flash_options(CLI::App& app, settings& s) {
    app.add_option("IMAGE", s.flash.input, "image: raw, ELF, Intel HEX or S-records (- for standard input)")->required();
    app.add_option("-o,--output", s.flash.output, "image name (the twin follows it)");
    keys_option(app, s.flash.keys);
    app.add_flag_callback("--no-twin", [&s] { s.flash.twin = false; }, "leave the .out twin out");
    format_options(app, s.flash.format, s.flash.base);
    input_options(app, s.flash.inputs);
    verify_flag(app, s.flash.verify);
    quiet_option(app, s);
}

runner define_crc(CLI::App& app, settings& s) {
    flash_options(app, s);
    return [&s, &app] {
        check_base(app, s.flash.format);
        run_crc(s.flash, s.common);
    };
}

runner define_single(CLI::App& app, settings& s) {
    flash_options(app, s);
    return [&s, &app] {
        check_base(app, s.flash.format);
        run_single(s.flash, s.common);
    };
}

runner define_merge(CLI::App& app, settings& s) {
    merge_settings& m = s.merge;
    app.add_option("BOOT", m.boot, "boot image, at flash offset 0")->required();
    app.add_option("STACK", m.stack, "stack image")->required();
    app.add_option("APP", m.app, "app image")->required();
    app.add_option("-o,--output", m.prefix, "prefix of the three output names");
    number_option(app, "--stack-at", m.layout.stack_at, max32, "flash offset of the stack (0x1F00)");
    number_option(app, "--app-at", m.layout.app_at, max32, "flash offset of the app (0x25A80)");
    app.add_option_function<std::string>(
           "--image-version",
           [&m](const std::string& text) {
               m.image_version = static_cast<std::uint16_t>(parse_number("--image-version", text, max16));
           },
           "version in both headers (default: from SOURCE_DATE_EPOCH, else the clock)")
        ->type_name("N");
    number_option(app, "--rom-version", m.rom_version, max16, "ROM version in both headers (0xFFFF)");
    number_option(app, "--app-uid", m.app_uid, max32, "uid of the app header (0x42424242)");
    number_option(app, "--stack-uid", m.stack_uid, max32, "uid of the stack header (0x53535353)");
    format_options(app, m.format, m.base);
    input_options(app, m.inputs);
    verify_flag(app, m.verify);
    quiet_option(app, s, "print nothing on stdout, nor the note on stderr of where the image version came from");
    return [&s, &app] {
        check_base(app, s.merge.format);
        s.merge.stack_at_given = app.count("--stack-at") != 0;
        s.merge.app_at_given = app.count("--app-at") != 0;
        run_merge(s.merge, s.common);
    };
}

void export_options(CLI::App& app, export_command_settings& e, settings& s, int default_bits) {
    e.cells.cell_bits = default_bits;
    app.add_option("IMAGE", e.input, "image: raw, ELF, Intel HEX or S-records (- for standard input)")->required();
    app.add_option("-o,--output", e.output, "output name (- for standard output)");
    app.add_option_function<std::string>(
           "--bits",
           [&e](const std::string& text) {
               const auto bits = parse_number("--bits", text, 32);
               if (bits != 8 && bits != 16 && bits != 32) {
                   usage_error("--bits: " + text + " is not 8, 16 or 32");
               }
               e.cells.cell_bits = static_cast<int>(bits);
           },
           "bits per cell: 8, 16 or 32, little-endian (default " + std::to_string(default_bits) + ")")
        ->type_name("8|16|32");
    app.add_option_function<std::string>(
           "--per-line",
           [&e](const std::string& text) {
               const auto n = parse_number("--per-line", text, max32);
               if (n == 0) usage_error("--per-line: a line needs at least one cell");
               e.cells.per_line = static_cast<std::uint32_t>(n);
           },
           "cells per line (16)")
        ->type_name("N");
    input_options(app, e.inputs);
    quiet_option(app, s);
}

runner define_txt(CLI::App& app, settings& s) {
    export_options(app, s.txt, s, text_dump_format().default_cell_bits());
    app.add_flag("--comma", s.txt.cells.comma, "a comma after each cell instead of a blank");
    app.add_flag("--prefix", s.txt.cells.prefix, "0x before each cell");
    return [&s] { run_export(text_dump_format(), s.txt, s.common); };
}

runner define_c(CLI::App& app, settings& s) {
    export_options(app, s.c, s, c_source_format().default_cell_bits());
    app.add_option_function<std::string>(
           "--name",
           [&s](const std::string& text) {
               s.c.cells.array_name = parse_array_name("--name", text);
               s.c.cells.length_symbol = true;
           },
           "array name (default bin2array); adds IDENT_len, the length in bytes")
        ->type_name("IDENT");
    app.add_flag("--const", s.c.cells.constant, "declare the array (and its length) const");
    app.add_flag("--stdint", s.c.cells.fixed_width_types,
                 "uint8_t/uint16_t/uint32_t from <stdint.h> instead of unsigned char/short/int");
    app.add_option_function<std::string>(
           "--header",
           [&s](const std::string& text) {
               s.c.header = text;
               s.c.cells.length_symbol = true;
           },
           "also write a header declaring the array and its length")
        ->type_name("FILE.h");
    // velk's C file is its own; the compatibility programs keep theirs.
    return [&s] { run_export(c_source_format(), s.c, s.common); };
}

void kind_option(CLI::App& app, kind_choice& kind) {
    app.add_option_function<std::string>(
           "--kind", [&kind](const std::string& text) { kind = parse_kind("--kind", text); },
           "read the file as this kind instead of telling it from its content: " + encoding_names() +
               " (encoding), flash-crc, padded-flash-crc, oad, oad-stack, oad-app or merged (image), "
           "or both as ENCODING:KIND")
        ->type_name("KIND");
}

void base_option(CLI::App& app, std::optional<std::uint32_t>& base) {
    app.add_option_function<std::string>(
           "--base",
           [&base](const std::string& text) {
               base = static_cast<std::uint32_t>(parse_number("--base", text, max32));
           },
           "Intel HEX: address of the image's first byte (default: the start of the first "
           "record's 64 KiB page)")
        ->type_name("N");
}

void read_command_options(CLI::App& app, settings& s) {
    read_settings& r = s.read;
    app.add_option("FILE", r.files, "image files, each recognised from its content")->required();
    number_option(app, "--stack-at", r.layout.stack_at, max32, "flash offset of the stack (0x1F00)");
    number_option(app, "--app-at", r.layout.app_at, max32, "flash offset of the app (0x25A80)");
    kind_option(app, r.kind);
    base_option(app, r.base);
    app.add_flag("--json", r.json, "one JSON document on stdout for the whole run");
    input_options(app, r.inputs);
}

runner define_info(CLI::App& app, settings& s) {
    read_command_options(app, s);
    return [&s] { s.status = run_info(s.read); };
}

runner define_verify(CLI::App& app, settings& s) {
    read_command_options(app, s);
    read_settings& r = s.read;
    app.add_option_function<std::string>(
           "--keys", [&r](const std::string& text) { r.keys = parse_keys("--keys", text); },
           "scramble keys of the flash CRC image, to descramble it for --against RAW "
           "(default 00A5A5A5 four times, which scrambles nothing)")
        ->type_name("K1,K2,K3,K4");
    app.add_option_function<std::string>(
           "--against",
           [&r](const std::string& text) {
               r.against.clear();
               std::size_t start = 0;
               for (;;) {
                   const std::size_t comma = text.find(',', start);
                   r.against.push_back(text.substr(start, comma == std::string::npos ? comma : comma - start));
                   if (comma == std::string::npos) break;
                   start = comma + 1;
               }
               for (const std::string& name : r.against) {
                   if (name.empty()) usage_error("--against: '" + text + "' has an empty name");
               }
           },
           "check that a flash CRC image holds RAW, or that a merged image holds BOOT, STACK and APP")
        ->type_name("RAW|BOOT,STACK,APP");
    return [&s] { s.status = run_verify(s.read); };
}

runner define_unpack(CLI::App& app, settings& s) {
    unpack_settings& u = s.unpack;
    app.add_option("IMAGE", u.image, "flash CRC image, plain or padded (or its Intel HEX or twin)")->required();
    app.add_option("-o,--output", u.output, "raw image name (default: the image's stem and _raw.bin)");
    keys_option(app, u.keys);
    number_option(app, "--length", u.length, UINT64_MAX,
                  "cut the raw image to its original length N (the rest of the last block must be 0xFF)");
    kind_option(app, u.kind);
    base_option(app, u.base);
    quiet_option(app, s);
    return [&s] { run_unpack(s.unpack, s.common); };
}

// `velk help [COMMAND]` is read before CLI11 parses anything (it becomes
// `velk [COMMAND] --help`); it is defined here for the list of commands
// and its own --help.
runner define_help(CLI::App& app, settings&) {
    app.add_option("COMMAND", "the command whose help to print (default: velk's own)");
    return [] {};
}

// The command table: dispatch and help both read it.
struct command {
    const char* name;
    const char* summary;
    runner (*define)(CLI::App&, settings&);
};

constexpr command commands[] = {
    {"crc", "flash CRC image and its .out twin", define_crc},
    {"single", "scrambled flash CRC image padded to a multiple of 256 bytes, and its twin", define_single},
    {"merge", "boot, stack and app merged, with the stack and app OAD images", define_merge},
    {"txt", "hexadecimal text dump", define_txt},
    {"c", "C source file defining the image as an array", define_c},
    {"info", "what image files are, and every field of them", define_info},
    {"verify", "check that image files keep every promise of their kind", define_verify},
    {"unpack", "the raw image back out of a flash CRC image", define_unpack},
    {"help", "the help of velk, or of COMMAND", define_help},
};

std::vector<std::string> command_names() {
    std::vector<std::string> names;
    for (const command& row : commands) names.emplace_back(row.name);
    return names;
}

// Reads the command line into the settings and returns the command to
// run, or null when all is done (--help, --version). Throws usage_mistake.
const runner* parse(CLI::App& app, const std::vector<runner>& runners, const std::vector<std::string>& words) {
    const std::vector<std::string> line = read_command_line(app, command_names(), words);
    const std::string name = line.front()[0] == '-' ? "" : line.front();
    std::vector<const char*> argv = {"velk"};
    for (const std::string& word : line) argv.push_back(word.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() != 0) throw usage_mistake(name, e.what());
        app.exit(e);  // --help, --version
        return nullptr;
    } catch (const failure& f) {
        // A value that an option's own reader refused.
        if (f.status() != exit_status::usage) throw;
        throw usage_mistake(name, f.what());
    }
    for (std::size_t i = 0; i < std::size(commands); ++i) {
        if (name == commands[i].name) return &runners[i];
    }
    return nullptr;
}

}  // namespace

int run(int argc, const char* const* argv) {
    // The same bytes on every system: scripts that read velk's lines (or its
    // output with -o -) must not get CR LF on one and LF on another.
    set_binary_stdout();
    settings s;
    CLI::App app("velk: binary images for SPI flash, for build pipelines", "velk");
    app.set_version_flag("--version", std::string("velk ") + VELK_VERSION);
    // Read before CLI11 parses (see read_command_line); here for the help.
    app.add_flag_callback("-q,--quiet", [] {}, "the command's own -q, given before it");
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 success, 1 a check failed, 2 usage error, 3 an input is missing,\n"
        "unreadable, unrecognised or cannot be laid out, 4 an output cannot be written.\n"
        "Run 'velk help COMMAND' or 'velk COMMAND --help' for the options of a command.");
    std::vector<runner> runners;
    for (const command& row : commands) runners.push_back(row.define(*app.add_subcommand(row.name, row.summary), s));

    try {
        const runner* command = parse(app, runners, std::vector<std::string>(argv + 1, argv + argc));
        if (command == nullptr) return 0;
        (*command)();
    } catch (const usage_mistake& m) {
        return report_mistake(m.command(), m.what());
    } catch (const failure& f) {
        std::fprintf(stderr, "velk: %s\n", f.what());
        return static_cast<int>(f.status());
    } catch (const std::bad_alloc&) {
        // The outputs' temporaries were removed as the stack unwound.
        std::fprintf(stderr, "velk: out of memory\n");
        return static_cast<int>(exit_status::output);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velk: %s\n", e.what());
        return static_cast<int>(exit_status::output);
    }
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "velk: cannot write to standard output\n");
        return static_cast<int>(exit_status::output);
    }
    return s.status;
}

}  // namespace velk::cli
