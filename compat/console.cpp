#include "compat/console.hpp"

#include <cstdarg>
#include <cstdio>

#include "io/platform.hpp"

namespace velk::compat {

void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

const char* shown(const char* name) { return name != nullptr ? name : "(null)"; }

const char* shown(const std::optional<std::string>& name) {
    return name ? name->c_str() : "(null)";
}

void console_init() { set_binary_stdout(); }

}  // namespace velk::compat
