#pragma once

// velk reads the words of its command line itself before CLI11 does, in the
// way of getopt: an option that takes a value takes the rest of its word
// (-ofile, --output=file) or else the next word, whatever it is. That way
// every mistake is told in velk's words, naming what was typed, the first
// one first; CLI11 then parses a command line known to be well formed.

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace CLI {
class App;
}

namespace velk::cli {

// A command-line mistake: `command` ("" before the command) names the help
// that the message points to.
class usage_mistake : public std::runtime_error {
public:
    usage_mistake(std::string command, const std::string& message)
        : std::runtime_error(message), command_(std::move(command)) {}
    const std::string& command() const { return command_; }

private:
    std::string command_;
};

// The words CLI11 parses, the command first; none but --help or --version
// when velk itself is asked for. `app` defines the commands named in
// `commands`, each option checked against its definition. What stands
// before the command (-q, --help, --version) is read here, and
// `velk -q CMD` becomes `CMD -q`; `help [COMMAND]` becomes that command's
// --help. Throws usage_mistake for the first mistake.
std::vector<std::string> read_command_line(const CLI::App& app, const std::vector<std::string>& commands,
                                           const std::vector<std::string>& words);

// Prints a command-line mistake on standard error: the message, then where
// help is. Returns the usage exit status.
int report_mistake(const std::string& command, const std::string& message);

}  // namespace velk::cli
