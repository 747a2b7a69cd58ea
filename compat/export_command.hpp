#pragma once
// What the -txt and -c commands share beyond the cell: how they find their
// names and options on the command line, and how they open, finish and
// check their files.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "compat/inputs.hpp"
#include "formats/export/export.hpp"
#include "io/file.hpp"

namespace velk::compat {

// Index of the command word: the lower-case word, or the upper-case one
// when the lower-case word is absent; -1 when neither is present.
int command_index(int argc, const char* const* argv, std::string_view lower,
                  std::string_view upper);

// The names after the command word at index `at`: the input is the next
// token (null when the word is last); the output name is the token after
// that when it exists and does not begin with "-", else nothing.
void command_names(int argc, const char* const* argv, int at, const char*& bin_file,
                   std::optional<std::string>& output_name);

// The "-t" value when it is 8, 16 or 32. Any other value prints
// "set type exceptionally, and it will be 8, 16, 32.\r\n" and gives
// `fallback`; "-t" absent or the last token gives `fallback` silently.
std::int32_t cell_type_option(int argc, const char* const* argv, std::int32_t fallback);

// The "-l" value (read as strtoul base 0 reads it); 16 when "-l" is absent
// or the last token.
std::uint32_t line_count_option(int argc, const char* const* argv);

// Opens the input for reading, after refusing, with input_refused's line,
// a directory and, for a measured input, anything but a regular file: the
// output is then neither created nor truncated. When opening fails it
// prints "%s file can not be opened\r\n" (a missing name shows as "(null)").
// Every refusal or failure gives a closed file.
File open_input(const char* bin_file, input_use use);

// Creates the output, after refusing a missing name and a name that is the
// input file itself (opening that would truncate the input before a byte
// of it was read). Every refusal or failure prints
// "%s file can not be created\r\n", after the overwrite guard's line saying
// why for the input, and gives a closed file.
File create_output(const char* bin_file, const std::optional<std::string>& output_name);

// Creates the output (as create_output), runs `format` from `input` into
// it, then flushes and closes it and prints "%s file can not be read\r\n"
// when reading the input failed and "%s file can not be written\r\n" when a
// write or the close failed. Returns 0 when neither happened, else 1.
// Whatever was written stays.
int export_to_file(const export_format& format, const export_settings& settings,
                   const char* bin_file, File& input, std::optional<std::uint64_t> input_size,
                   const std::optional<std::string>& output_name);

}  // namespace velk::compat
