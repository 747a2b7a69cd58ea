#include "compat/names.hpp"

#include <utility>

#include "compat/console.hpp"
#include "io/file.hpp"

namespace velk::compat {

namespace {

struct derivation {
    std::optional<std::string> name;  // nothing when the base name has no stem
    bool is_bin = false;               // the rest of the base name is exactly "bin"
};

derivation derive(std::string_view input, std::string_view suffix) {
    const std::size_t slash = input.find_last_of("/\\");
    const std::size_t base_at = slash == std::string_view::npos ? 0 : slash + 1;
    const std::string_view dir = input.substr(0, base_at);
    const std::string_view base = input.substr(base_at);

    const std::size_t dots = base.find_first_not_of('.');
    if (dots == std::string_view::npos) return {};
    const std::size_t stem_end = base.find('.', dots);
    const std::string_view stem = base.substr(0, stem_end);
    derivation d;
    d.is_bin = stem_end != std::string_view::npos && base.substr(stem_end + 1) == "bin";
    std::string name;
    name.reserve(dir.size() + stem.size() + suffix.size());
    name.append(dir).append(stem).append(suffix);
    d.name = std::move(name);
    return d;
}

}  // namespace

std::optional<std::string> derive_file_name(std::string_view input, std::string_view suffix) {
    derivation d = derive(input, suffix);
    if (!d.name) {
        const std::string name(input);
        say("%s: no file name stem to derive an output name from\r\n", name.c_str());
    } else if (!d.is_bin) {
        say("Attention: maybe the input file is not binary file\r\n");
    }
    return std::move(d.name);
}

std::optional<std::string> derived_file_name(std::string_view input, std::string_view suffix) {
    return derive(input, suffix).name;
}

bool overwrites_input(const std::string& output, std::initializer_list<const char*> inputs) {
    for (const char* input : inputs) {
        if (input != nullptr && same_file(output, input)) {
            say("%s is the input %s; it would be overwritten, so it is not written\r\n",
                output.c_str(), input);
            return true;
        }
    }
    return false;
}

}  // namespace velk::compat
