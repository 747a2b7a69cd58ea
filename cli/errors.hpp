#pragma once
// How a velk run ends: its exit status, and the one line on stderr that
// says why when it is not 0.

#include <stdexcept>
#include <string>
#include <vector>

namespace velk::cli {

enum class exit_status {
    ok = 0,
    check_failed = 1,  // an image read back does not hold what it should
    usage = 2,         // the command line asks for something velk will not do
    input = 3,         // an input is missing, unreadable or cannot be laid out
    output = 4,        // an output cannot be created or written
};

// Ends a command: thrown anywhere below the dispatcher, which prints
// "velk: <message>" on stderr and exits with `status`.
class failure : public std::runtime_error {
public:
    failure(exit_status status, const std::string& message)
        : std::runtime_error(message), status_(status) {}
    exit_status status() const { return status_; }

private:
    exit_status status_;
};

[[noreturn]] void fail(exit_status status, const std::string& message);
[[noreturn]] void usage_error(const std::string& message);

// "<name>: <reason>: <the system's text for error>".
std::string system_message(const std::string& name, const std::string& reason, int error);

// One warning line on stderr, "velk: " first.
void warn(const std::string& message);

// " (did you mean X?)" for the candidate nearest to `word`, by edit
// distance (a swap of two neighbours counting as one edit) between the
// names without their leading dashes, so that "version" finds "--version";
// "" when no candidate is near enough to be what was meant. A tie goes to
// the candidate listed first.
std::string did_you_mean(const std::string& word, const std::vector<std::string>& candidates);

}  // namespace velk::cli
