#pragma once
// The -c command: the image as a C source file that defines one array,
// bin2array, of 8-, 16- or 32-bit elements.

#include <cstdint>
#include <optional>
#include <string>

namespace velk {

struct cmd_bin_c_t {
    const char* bin_file = nullptr;           // borrowed from the argument vector
    std::optional<std::string> c_file_name;   // given, or derived by the command
    int name_derived = 0;                     // 1 when c_file_name was derived
    std::int32_t cell_type = 32;              // bits per element: 8, 16 or 32
    std::uint32_t line_count = 16;            // elements per line
};

// Filled by parse_c_options at each run, read by bin2c.
extern cmd_bin_c_t cmd_bin_c;

// Reads the -c options from the whole argument vector: "-l" (elements per
// line, default 16) and "-t" (8, 16 or 32, default 32; another value is
// announced and gives 32). A value option that is the last token counts as
// absent. Returns 0 and fills the names when "-c" (or, without it, "-C")
// is present, else 1 with the names left.
int parse_c_options(int argc, const char* const* argv);

// The output name: the given one, or the input's name with "_qz.c"
// derived once (nothing when that fails). Owned by cmd_bin_c.
const std::optional<std::string>& default_c_file_name(const char* input);
// Frees the output name when default_c_file_name derived it.
void release_c_file_name();

// The command body: prints the settings, then writes the C file in binary
// mode, so each line end is exactly CR LF. The element count comes from
// the input's size, taken once before reading, and is printed in full
// however large the input. Returns 0 when the whole file was written and
// closed, else 1 after one line per failure; a file cut short stays.
int bin2c(int argc, const char* const* argv);

}  // namespace velk
