#pragma once
// The -txt command: the image as a hexadecimal text dump, cells of 8, 16
// or 32 bits, a fixed number of cells a line.

#include <cstdint>
#include <optional>
#include <string>

namespace velk {

struct cmd_bin_txt_t {
    const char* bin_file = nullptr;             // borrowed from the argument vector
    std::optional<std::string> txt_file_name;   // given, or derived by the command
    int name_derived = 0;                       // 1 when txt_file_name was derived
    std::int32_t cell_type = 8;                 // bits per cell: 8, 16 or 32
    int comma_status = 0;                       // 1: "," after each cell, 0: " "
    int prefix_status = 0;                      // 1: "0x" before each cell
    std::uint32_t line_count = 16;              // cells per line
};

// Filled by parse_txt_options at each run, read by bin2txt.
extern cmd_bin_txt_t cmd_bin_txt;

// Reads the -txt options from the whole argument vector: "-c" (comma),
// "-l" (cells per line, default 16), "-p" (prefix), "-t" (8, 16 or 32,
// default 8; another value is announced and gives 8). A value option that
// is the last token counts as absent. Returns 0 and fills the names when
// "-txt" (or, without it, "-TXT") is present, else 1 with the names left.
int parse_txt_options(int argc, const char* const* argv);

// The output name: the given one, or the input's name with "_qz.txt"
// derived once (nothing when that fails). Owned by cmd_bin_txt.
const std::optional<std::string>& default_txt_file_name(const char* input);
// Frees the output name when default_txt_file_name derived it.
void release_txt_file_name();

// The command body: prints the settings, then writes every input byte as
// cells to the output in binary mode, so each line end is exactly CR LF.
// Returns 0 when the whole dump was written and closed, else 1 after one
// line per failure; a dump cut short stays as written.
int bin2txt(int argc, const char* const* argv);

}  // namespace velk
