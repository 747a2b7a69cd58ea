#include "cli/command_line.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

#include "cli/errors.hpp"

namespace velk::cli {
namespace {


// The words velk takes where a command is expected: the commands and the
// options that may stand before them.
std::vector<std::string> top_level_words(const std::vector<std::string>& commands) {
    std::vector<std::string> words = {"--help", "--version", "--quiet"};
    words.insert(words.end(), commands.begin(), commands.end());
    return words;
}

bool is_one_of(const std::string& word, const std::vector<std::string>& names) {
    return std::find(names.begin(), names.end(), word) != names.end();
}

// Every long option of a command, as typed.
std::vector<std::string> long_options(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options()) {
        for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
    }
    return names;
}

bool takes_value(const CLI::Option* option) { return option->get_items_expected_max() > 0; }

// The option of `app` spelled `spelled` ("--name" or "-n"), or null.
const CLI::Option* option_spelled(const CLI::App& app, const std::string& spelled) {
    const bool is_long = spelled.rfind("--", 0) == 0;
    for (const CLI::Option* option : app.get_options()) {
        for (const std::string& name : is_long ? option->get_lnames() : option->get_snames()) {
            if (spelled == (is_long ? "--" : "-") + name) return option;
        }
    }
    return nullptr;
}

// Reads one command's words: its options, checked against its definition,
// and its operands, counted against its positionals.
class command_reader {
public:
    command_reader(const CLI::App& app, std::string command) : app_(app), command_(std::move(command)) {}

    // Throws usage_mistake for the first mistake in `words`.
    void read(const std::vector<std::string>& words) {
        words_ = &words;
        bool options_end = false;
        for (next_ = 0; next_ < words.size();) {
            const std::string& word = words[next_++];
            if (options_end || word == "-" || word.size() < 2 || word[0] != '-') {
                operands_.push_back(word);
            } else if (word == "--") {
                options_end = true;
            } else if (word[1] == '-') {
                read_long(word);
            } else {
                read_short(word);
            }
        }
        if (!help_) count_operands();
    }

    bool help() const { return help_; }
    const std::vector<std::string>& operands() const { return operands_; }

private:
    [[noreturn]] void mistake(const std::string& message) const { throw usage_mistake(command_, message); }

    [[noreturn]] void unknown(const std::string& spelled) const {
        mistake("unknown option " + spelled + did_you_mean(spelled, long_options(app_)));
    }

    void read_long(const std::string& word) {
        const std::size_t equals = word.find('=');
        const std::string spelled = word.substr(0, equals);
        const CLI::Option* option = option_spelled(app_, spelled);
        if (option == nullptr) unknown(spelled);
        if (equals == std::string::npos) {
            given(option, spelled, std::nullopt);
        } else {
            given(option, spelled, word.substr(equals + 1));
        }
    }

    // A cluster of short options, "-qo" "file" or "-ofile". A word whose
    // first letter is no option is taken as a long option with one dash.
    void read_short(const std::string& word) {
        for (std::size_t at = 1; at < word.size(); ++at) {
            const std::string spelled = std::string("-") + word[at];
            const CLI::Option* option = option_spelled(app_, spelled);
            if (option == nullptr) unknown(at == 1 ? word.substr(0, word.find('=')) : spelled);
            if (takes_value(option)) {
                given(option, spelled,
                      at + 1 < word.size() ? std::optional<std::string>(word.substr(at + 1)) : std::nullopt);
                return;
            }
            given(option, spelled, std::nullopt);
        }
    }

    // An option seen, with the value attached to its word if any.
    void given(const CLI::Option* option, const std::string& spelled, std::optional<std::string> value) {
        if (option == app_.get_help_ptr()) help_ = true;
        if (!takes_value(option)) return;  // a flag: once or again, the same
        if (!value && next_ < words_->size()) value = (*words_)[next_++];
        if (!value || value->empty()) mistake("option " + spelled + " needs a value");
        const auto [first, fresh] = seen_.emplace(option, spelled);
        if (!fresh && option->get_multi_option_policy() == CLI::MultiOptionPolicy::Throw) {
            mistake("option " + spelled + " given twice" +
                    (first->second == spelled ? "" : " (first as " + first->second + ")"));
        }
    }

    void count_operands() const {
        std::size_t taken = 0;
        for (const CLI::Option* positional : app_.get_options()) {
            if (!positional->get_positional()) continue;
            const std::size_t most = static_cast<std::size_t>(positional->get_items_expected_max());
            const std::size_t here = std::min(most, operands_.size() - taken);
            if (here == 0 && positional->get_required()) mistake("missing operand " + positional->get_name());
            taken += here;
        }
        if (taken < operands_.size()) mistake("extra operand '" + operands_[taken] + "'");
    }

    const CLI::App& app_;
    std::string command_;
    const std::vector<std::string>* words_ = nullptr;
    std::size_t next_ = 0;
    std::vector<std::string> operands_;
    std::map<const CLI::Option*, std::string> seen_;  // options with a value, as first spelled
    bool help_ = false;
};

}  // namespace

std::vector<std::string> read_command_line(const CLI::App& app, const std::vector<std::string>& commands,
                                           const std::vector<std::string>& words) {
    std::size_t at = 0;
    bool quiet = false;
    for (; at < words.size() && words[at].size() > 1 && words[at][0] == '-'; ++at) {
        const std::string& word = words[at];
        if (word == "--help" || word == "-h" || word == "--version") return {word};
        if (word != "-q" && word != "--quiet") {
            throw usage_mistake("", "unknown option " + word + did_you_mean(word, top_level_words(commands)));
        }
        quiet = true;
    }
    if (at == words.size()) throw usage_mistake("", "missing command");
    const std::string& name = words[at];
    if (!is_one_of(name, commands)) {
        throw usage_mistake("", "unknown command '" + name + "'" + did_you_mean(name, top_level_words(commands)));
    }
    std::vector<std::string> rest(words.begin() + static_cast<std::ptrdiff_t>(at) + 1, words.end());
    if (quiet) rest.insert(rest.begin(), "-q");
    command_reader reader(*app.get_subcommand(name), name);
    reader.read(rest);
    if (name == "help" && !reader.help()) {
        if (reader.operands().empty()) return {"--help"};
        const std::string& topic = reader.operands().front();
        if (!is_one_of(topic, commands)) {
            throw usage_mistake("help", "unknown command '" + topic + "'" + did_you_mean(topic, commands));
        }
        return {topic, "--help"};
    }
    rest.insert(rest.begin(), name);
    return rest;
}

int report_mistake(const std::string& command, const std::string& message) {
    const std::string prefix = command.empty() ? "" : command + ": ";
    const std::string help = command.empty() ? "velk --help" : "velk " + command + " --help";
    std::fprintf(stderr, "velk: %s%s\nTry '%s'.\n", prefix.c_str(), message.c_str(), help.c_str());
    return static_cast<int>(exit_status::usage);
}

}  // namespace velk::cli
