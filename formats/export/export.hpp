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

// What a format may know about the run besides its settings.
struct export_context {
    std::string_view output_name;           // as the output is named
    std::optional<std::uint64_t> input_size;  // when the input could be measured
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
// The C source file that defines one array of the image's cells.
const export_format& c_array_format();

// The C header that declares what c_array_format defines with `settings`
// for an input of `input_size` bytes; `guard` is its include guard macro.
std::string c_array_declarations(const export_settings& settings, std::uint64_t input_size,
                                 std::string_view guard);

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
