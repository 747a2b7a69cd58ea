// The help, the man page and the bash completion describe one command
// line: the commands and each command's options are read from velk's own
// --help, from docs/velk.1's synopsis and from what the completion script
// offers when bash runs it, and must be the same in all three; the
// README's shorter synopsis names the same commands and no option that a
// command does not have.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "harness.hpp"
#include "support.hpp"

#ifndef VELK_SOURCE_DIR
#error "VELK_SOURCE_DIR must name the source tree"
#endif

namespace velk::test {
namespace {

using Names = std::set<std::string>;

std::string source(const std::string& path) {
    std::ifstream in(std::string(VELK_SOURCE_DIR) + "/" + path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> words_of(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

std::string joined(const Names& names) {
    std::string text;
    for (const std::string& n : names) text += n + " ";
    return text;
}

// ---- velk's help ----

// The first word of each entry of a section of CLI11's help ("Options:",
// "Subcommands:"): the lines indented by two blanks up to the blank line.
std::vector<std::string> help_entries(const std::string& help, const std::string& section) {
    std::vector<std::string> entries;
    bool inside = false;
    for (const std::string& line : lines_of(help)) {
        if (line == section) {
            inside = true;
        } else if (inside && line.empty()) {
            break;
        } else if (inside && line.rfind("  ", 0) == 0 && line[2] != ' ') {
            entries.push_back(line.substr(2));
        }
    }
    return entries;
}

std::string help_of(const std::vector<std::string>& args) {
    const Outcome r = run_velk(velk, args);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

Names help_commands() {
    Names names;
    for (const std::string& entry : help_entries(help_of({"--help"}), "Subcommands:")) names.insert(words_of(entry)[0]);
    return names;
}

// An option as the help lists it: its spellings ("-o", "--output") and,
// when its value is one of a few words ("bin|hex|srec"), those words.
struct Option {
    Names spellings;
    Names values;
};

std::vector<Option> help_options(const std::vector<std::string>& args) {
    std::vector<Option> options;
    for (const std::string& entry : help_entries(help_of(args), "Options:")) {
        const std::vector<std::string> words = words_of(entry);
        Option option;
        std::istringstream names(words[0]);
        for (std::string name; std::getline(names, name, ',');) option.spellings.insert(name);
        // A value in capitals is a placeholder (N, FILE.h), not a choice.
        if (words.size() > 1 && std::regex_match(words[1], std::regex("[a-z0-9-]+(\\|[a-z0-9-]+)+"))) {
            std::istringstream values(words[1]);
            for (std::string value; std::getline(values, value, '|');) option.values.insert(value);
        }
        options.push_back(option);
    }
    return options;
}

Names spellings(const std::vector<Option>& options) {
    Names all;
    for (const Option& o : options) all.insert(o.spellings.begin(), o.spellings.end());
    return all;
}

// ---- The man page ----

// Each command's synopsis in docs/velk.1: from ".B velk NAME" to the next
// paragraph, with troff's \- as -.
std::map<std::string, std::string> man_synopses() {
    std::map<std::string, std::string> synopses;
    std::string* current = nullptr;
    bool inside = false;
    for (std::string line : lines_of(source("docs/velk.1"))) {
        line = std::regex_replace(line, std::regex("\\\\-"), "-");
        if (line.rfind(".SH", 0) == 0) inside = line == ".SH SYNOPSIS";
        if (!inside) continue;
        const std::vector<std::string> words = words_of(line);
        if (words.size() == 3 && words[0] == ".B" && words[1] == "velk") {
            current = &synopses[words[2]];
        } else if (line == ".PP" || line == ".br") {
            current = nullptr;
        } else if (current != nullptr) {
            *current += line + "\n";
        }
    }
    return synopses;
}

// The entries of the man page's COMMANDS section (".TP" then ".B name").
Names man_commands() {
    Names names;
    bool inside = false;
    std::string previous;
    for (const std::string& line : lines_of(source("docs/velk.1"))) {
        if (line.rfind(".SH", 0) == 0) inside = line == ".SH COMMANDS";
        if (inside && previous == ".TP" && line.rfind(".B ", 0) == 0) names.insert(line.substr(3));
        previous = line;
    }
    return names;
}

// Every option spelled in a piece of the man page.
Names man_options(const std::string& text) {
    Names names;
    const std::regex option("(^|[\\s\\[|])(--?[a-z][a-z0-9-]*)");
    for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it) names.insert((*it)[2]);
    return names;
}

// ---- The README ----

// Each command's line in the README's synopsis (the first ```sh block after
// the heading of velk's section), with its continuation lines, which begin
// with blanks.
std::map<std::string, std::string> readme_synopses() {
    const std::vector<std::string> lines = lines_of(source("README.md"));
    std::map<std::string, std::string> synopses;
    std::size_t i = 0;
    while (i < lines.size() && lines[i].rfind("## velk,", 0) != 0) ++i;
    while (i < lines.size() && lines[i] != "```sh") ++i;
    std::string current;
    for (++i; i < lines.size() && lines[i] != "```"; ++i) {
        const std::vector<std::string> words = words_of(lines[i]);
        if (words.size() >= 2 && words[0] == "velk" && words[1][0] != '-') {
            current = words[1];
        } else if (lines[i].empty() || lines[i][0] != ' ') {
            current.clear();
        }
        if (!current.empty()) synopses[current] += lines[i] + "\n";
    }
    return synopses;
}

// ---- The bash completion, run by bash ----

// What completing the last of `words` (after "velk") offers.
Names completed(const std::vector<std::string>& words) {
    std::string array = "velk";
    for (const std::string& w : words) array += " '" + w + "'";
    const std::string script = "source '" + std::string(VELK_SOURCE_DIR) + "/completions/velk.bash'\n" +
                               "COMP_WORDS=(" + array + ")\nCOMP_CWORD=" + std::to_string(words.size()) +
                               "\n_velk\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n";
    Sandbox box;
    box.write("complete.sh", script);
    const std::optional<std::string> out = shell("bash '" + box.path() + "/complete.sh'");
    EXPECT_TRUE(out) << script;
    Names names;
    for (const std::string& line : lines_of(out.value_or(""))) {
        if (!line.empty()) names.insert(line);
    }
    return names;
}

// ---- The checks ----

TEST(Drift, EveryCommandIsInTheHelpTheManPageAndTheCompletion) {
    const Names commands = help_commands();
    ASSERT_GE(commands.size(), 8u) << help_of({"--help"});
    Names synopses;
    for (const auto& [name, text] : man_synopses()) synopses.insert(name);
    EXPECT_EQ(synopses, commands) << "man page synopses: " << joined(synopses);
    EXPECT_EQ(man_commands(), commands) << "man page COMMANDS: " << joined(man_commands());
    Names readme;
    for (const auto& [name, text] : readme_synopses()) readme.insert(name);
    EXPECT_EQ(readme, commands) << "README synopsis: " << joined(readme);
    // Where a command is expected: the commands and velk's own options.
    Names top = commands;
    for (const std::string& s : spellings(help_options({"--help"}))) top.insert(s);
    EXPECT_EQ(completed({""}), top) << "bash: " << joined(completed({""}));
}

TEST(Drift, EachCommandsOptionsAreTheSameEverywhere) {
    const std::map<std::string, std::string> synopses = man_synopses();
    for (const std::string& command : help_commands()) {
        const std::vector<Option> options = help_options({command, "--help"});
        ASSERT_FALSE(options.empty()) << command;
        // The completion offers every spelling, and nothing else.
        EXPECT_EQ(completed({command, "-"}), spellings(options)) << command;
        // The synopsis shows each option but --help (which every command
        // has, shown once as "velk command --help") in one of its
        // spellings, and no option the command does not have.
        ASSERT_TRUE(synopses.count(command)) << command;
        const Names shown = man_options(synopses.at(command));
        for (const Option& o : options) {
            if (o.spellings.count("--help")) continue;
            bool found = false;
            for (const std::string& s : o.spellings) found = found || shown.count(s) != 0;
            EXPECT_TRUE(found) << command << ": the man page's synopsis lacks " << joined(o.spellings);
        }
        for (const std::string& s : shown) {
            EXPECT_TRUE(spellings(options).count(s)) << command << ": the man page's synopsis has " << s;
        }
        // The README's shorter synopsis leaves options out (the text below
        // it names them), but shows none the command does not have.
        const std::map<std::string, std::string> readme = readme_synopses();
        if (readme.count(command)) {
            for (const std::string& s : man_options(readme.at(command))) {
                EXPECT_TRUE(spellings(options).count(s)) << command << ": the README's synopsis has " << s;
            }
        }
        // An option whose value is one of a few words: the completion
        // offers those words after it.
        for (const Option& o : options) {
            if (o.values.empty()) continue;
            for (const std::string& spelled : o.spellings) {
                EXPECT_EQ(completed({command, spelled, ""}), o.values) << command << " " << spelled;
            }
        }
    }
}

}  // namespace
}  // namespace velk::test
