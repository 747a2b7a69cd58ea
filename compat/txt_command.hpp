#pragma once
// The -txt command: the image as a hexadecimal text dump, cells of 8, 16
// or 32 bits, a fixed number of cells a line.

#include <optional>
#include <string>

#include "formats/export/export.hpp"

namespace velk::compat {

struct txt_options {
    const char* bin_file = nullptr;               // borrowed from the argument vector
    std::optional<std::string> txt_file_name;     // the given output name, if any
    export_settings cells;
};

// Reads the -txt options from the whole argument vector: "-c" (comma),
// "-l" (cells per line, default 16), "-p" (prefix), "-t" (8, 16 or 32,
// default 8; another value is announced and gives 8). A value option that
// is the last token counts as absent. Nothing when neither "-txt" nor
// "-TXT" is present.
std::optional<txt_options> parse_txt_options(int argc, const char* const* argv);

// The command body: prints the settings, then writes every input byte as
// cells to the output in binary mode, so each line end is exactly CR LF.
// Pipes, FIFOs and devices are read to their end; a directory is refused
// before the output is created. Returns 0 when the whole dump was written and closed, else 1 after one
// line per failure; a dump cut short stays as written.
int bin2txt(int argc, const char* const* argv);

}  // namespace velk::compat
