#include "cli/errors.hpp"

#include <cstdio>
#include <cstring>

namespace velk::cli {

void fail(exit_status status, const std::string& message) { throw failure(status, message); }

void usage_error(const std::string& message) { fail(exit_status::usage, message); }

std::string system_message(const std::string& name, const std::string& reason, int error) {
    std::string text = name + ": " + reason;
    if (error != 0) text += std::string(": ") + std::strerror(error);
    return text;
}

void warn(const std::string& message) { std::fprintf(stderr, "velk: %s\n", message.c_str()); }

}  // namespace velk::cli
