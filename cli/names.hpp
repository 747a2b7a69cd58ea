#pragma once
// The rule that names every output a command derives from its input.

#include <optional>
#include <string>
#include <string_view>

namespace velk {

// Output name for input and suffix: the input's directory part (up to and
// including its last '/' or '\') unchanged, then the stem of its base name
// (leading dots kept, up to the next dot), then the suffix.
// Prints "Attention: maybe the input file is not binary file\r\n" once when
// the rest of the base name after that dot is not exactly "bin".
// A base name without a stem (empty or dots only) gets a one-line message
// and no name.
std::optional<std::string> derive_file_name(std::string_view input, std::string_view suffix);

// Releases a derived name; an absent name is ignored.
void free_file_name(std::optional<std::string>& name);

// The output name of a command that takes an optional output name: the
// name given on the command line, or one derived once from the input.
// `name` holds the given name (or nothing) before the first call; afterwards
// it holds the name in use, and `name_derived` says whether the command
// derived it and so owns it.
const std::optional<std::string>& default_output_name(std::optional<std::string>& name,
                                                      int& name_derived, std::string_view input,
                                                      std::string_view suffix);

// Frees `name` when it was derived; a given name is left alone.
void release_output_name(std::optional<std::string>& name, int name_derived);

}  // namespace velk
