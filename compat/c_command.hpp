#pragma once
// The -c command: the image as a C source file that defines one array,
// bin2array, of 8-, 16- or 32-bit elements.

#include <optional>
#include <string>

#include "formats/export/export.hpp"

namespace velk::compat {

struct c_options {
    const char* bin_file = nullptr;           // borrowed from the argument vector
    std::optional<std::string> c_file_name;   // the given output name, if any
    export_settings cells;
};

// Reads the -c options from the whole argument vector: "-l" (elements per
// line, default 16) and "-t" (8, 16 or 32, default 32; another value is
// announced and gives 32). A value option that is the last token counts as
// absent. Nothing when neither "-c" nor "-C" is present.
std::optional<c_options> parse_c_options(int argc, const char* const* argv);

// The command body: prints the settings, then writes the C file in binary
// mode, so each line end is exactly CR LF. The element count comes from
// the input's size, taken once before reading, and is printed in full
// however large the input, so an input that is a directory or not a
// regular file is refused before the output is created. Returns 0 when the
// whole file was written and closed, else 1 after one line per failure; a
// file cut short stays.
int bin2c(int argc, const char* const* argv);

}  // namespace velk::compat
