#include "cli/errors.hpp"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string_view>

namespace velk::cli {

void fail(exit_status status, const std::string& message) { throw failure(status, message); }

void usage_error(const std::string& message) { fail(exit_status::usage, message); }

std::string system_message(const std::string& name, const std::string& reason, int error) {
    std::string text = name + ": " + reason;
    if (error != 0) text += std::string(": ") + std::strerror(error);
    return text;
}

void warn(const std::string& message) { std::fprintf(stderr, "velk: %s\n", message.c_str()); }

namespace {

std::string_view bare(std::string_view name) {
    while (!name.empty() && name.front() == '-') name.remove_prefix(1);
    return name;
}

// Insertions, deletions, substitutions and swaps of neighbours that turn a
// into b (each letter edited at most once).
std::size_t edit_distance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

}  // namespace

std::string did_you_mean(const std::string& word, const std::vector<std::string>& candidates) {
    const std::string* best = nullptr;
    std::size_t best_distance = 0;
    for (const std::string& candidate : candidates) {
        const std::string_view a = bare(word);
        const std::string_view b = bare(candidate);
        const std::size_t distance = edit_distance(a, b);
        // Near: at most a third of the longer name changed, so that a
        // one-letter word is never taken for another one-letter name.
        const bool near = distance * 3 <= std::max(a.size(), b.size());
        if (near && (best == nullptr || distance < best_distance)) {
            best = &candidate;
            best_distance = distance;
        }
    }
    return best == nullptr ? std::string() : " (did you mean " + *best + "?)";
}

}  // namespace velk::cli
