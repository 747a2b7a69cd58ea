#pragma once
// Everything velk reports goes to standard output through these calls,
// so the order of lines never depends on which command printed them.

#include <optional>
#include <string>

#include "io/console.hpp"

namespace velk::compat {

// printf to standard output. Formats are the fixed texts of the commands.
void say(const char* format, ...) VELK_PRINTF_LIKE(1, 2);

// The text a "%s" shows for a name that may be absent: the name, or "(null)".
const char* shown(const char* name);
const char* shown(const std::optional<std::string>& name);

// Puts standard output into binary mode where the platform would otherwise
// translate line ends, so the console text is the same bytes everywhere.
void console_init();

}  // namespace velk::compat
