#pragma once
// The rule that names every output a command derives from its input.

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace velk::compat {

// Output name for input and suffix: the input's directory part (up to and
// including its last '/' or '\') unchanged, then the stem of its base name
// (leading dots kept, up to the next dot), then the suffix.
// Prints "Attention: maybe the input file is not binary file\r\n" once when
// the rest of the base name after that dot is not exactly "bin".
// A base name without a stem (empty or dots only) gets a one-line message
// and no name.
std::optional<std::string> derive_file_name(std::string_view input, std::string_view suffix);

// The same name without a line printed, for a check made before the name
// is derived where it is used.
std::optional<std::string> derived_file_name(std::string_view input, std::string_view suffix);

// True, after one line saying so, when output would land on one of the
// inputs: writing it would destroy that input before it is read.
bool overwrites_input(const std::string& output, std::initializer_list<const char*> inputs);

}  // namespace velk::compat
