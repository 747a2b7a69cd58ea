#pragma once
// The export formats: the image as text that people and compilers read.
// Each format is one file behind the small interface below (its name
// suffix, its default cell width, and its head, cells and tail); one
// driver, write_export, runs any of them. To add a format, add a file that
// defines an export_format and a function returning it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "formats/pieces/pieces.hpp"
#include "io/file.hpp"
#include "io/fault.hpp"

namespace velk {

// How the cells are spelt. Not every format reads every field.
struct export_settings {
    int cell_bits = 8;              // 8, 16 or 32: input bytes per cell, little-endian
    std::uint32_t per_line = 16;    // cells per line
    bool comma = false;             // text dump: "," after each cell instead of " "
    bool prefix = false;            // text dump: "0x" before each cell
    std::string array_name = "bin2array";  // C array: the array's identifier
    bool constant = false;          // C array: declared const
    bool fixed_width_types = false; // C array: <stdint.h> types
    bool length_symbol = false;     // C array: "<array_name>_len", the length in bytes
};

// What velk's own C files say of themselves.
struct c_source_origin {
    std::string_view writer;       // the program and its version, as "velk 0.3.0"
    std::string_view input_name;   // the input as the files' comment names it
    std::string_view header_name;  // what the source #includes; empty: it declares the array itself
};

// What a format may know about the run besides its settings.
struct export_context {
    std::string_view output_name;           // as the output is named
    std::optional<std::uint64_t> input_size;  // when the input could be measured
    c_source_origin origin{};               // c_source_format only
};

class export_format {
public:
    virtual ~export_format() = default;
    // What default output names end in, as "_qz.txt".
    virtual std::string_view name_suffix() const = 0;
    virtual int default_cell_bits() const = 0;
    // True when the format must know the input's size before its first byte.
    virtual bool needs_input_size() const = 0;

    virtual void head(BlockWriter& out, const export_settings& settings,
                      const export_context& context) const = 0;
    // Every cell of the input until it ends.
    virtual void cells(BlockReader& in, BlockWriter& out, const export_settings& settings,
                       const export_context& context) const = 0;
    virtual void tail(BlockWriter& out, const export_settings& settings,
                      const export_context& context) const = 0;

    // The cells as pieces that can be converted apart (see pieces.hpp),
    // for an input of context.input_size bytes; null when the format or
    // these settings do not allow it.
    virtual std::unique_ptr<piecewise> pieces(const export_settings&, const export_context&) const {
        return nullptr;
    }
};

// The hexadecimal text dump: cells with a separator, a line end after
// every `per_line` cells (0 counts as 1), no head or tail.
const export_format& text_dump_format();
// The C source file that defines one array of the image's cells, as the
// compatibility programs write it.
const export_format& c_array_format();

// velk's own C source file: the same elements as c_array_format's, after a
// comment naming its writer and input (context.origin) and the array's
// declarations, either its header's #include (origin.header_name) or
// written out; a definition that follows its declaration keeps external
// linkage when the file is compiled as C++, and the declarations give the
// array C linkage there.
const export_format& c_source_format();

// The header named in context.origin.header_name that c_source_format's
// file includes with the same settings and context; `guard` is its include
// guard macro (see c_include_guard).
std::string c_header_text(const export_settings& settings, const export_context& context,
                          std::string_view guard);

// An include guard for a header whose file name (without its directory)
// is `file_name`: the name upper-cased, each run of other characters one
// "_", as "app-image.h" gives "APP_IMAGE_H"; "VELK_" in front when that
// would start with a digit or a prefix the C library reserves for its
// macros (as "E" before a letter), or be empty. Never a reserved name.
std::string c_include_guard(std::string_view file_name);

// True when `file_name` can stand between the quotes of an #include:
// printable ASCII without a quote, apostrophe or backslash, and no "//"
// or "/*", which the C standard leaves undefined there.
bool c_includable(std::string_view file_name);

// Writes `format` of `input` into `output` and flushes it (closing it is
// the caller's); returns the bytes written. When the input can be read by
// offset with a known size (context.input_size holds it) and the output
// written by offset, and the format can be cut into pieces with these
// settings, its cells are converted in pieces on up to `max_threads`
// threads; else the text streams from wherever the input stands to its
// end. The same bytes either way. A fault names the input or the output.
result<std::uint64_t> write_export(const export_format& format, const export_settings& settings,
                                   const export_context& context, byte_source& input,
                                   byte_sink& output, unsigned max_threads = available_threads());

}  // namespace velk
