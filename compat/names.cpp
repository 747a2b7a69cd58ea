#include "compat/names.hpp"

#include "compat/console.hpp"
#include "io/file.hpp"

namespace velk {

std::optional<std::string> derive_file_name(std::string_view input, std::string_view suffix) {
    const std::size_t slash = input.find_last_of("/\\");
    const std::size_t base_at = slash == std::string_view::npos ? 0 : slash + 1;
    const std::string_view dir = input.substr(0, base_at);
    const std::string_view base = input.substr(base_at);

    const std::size_t dots = base.find_first_not_of('.');
    if (dots == std::string_view::npos) {
        const std::string name(input);
        say("%s: no file name stem to derive an output name from\r\n", name.c_str());
        return std::nullopt;
    }
    const std::size_t stem_end = base.find('.', dots);
    const std::string_view stem = base.substr(0, stem_end);
    const bool is_bin = stem_end != std::string_view::npos && base.substr(stem_end + 1) == "bin";
    if (!is_bin) say("Attention: maybe the input file is not binary file\r\n");

    std::string name;
    name.reserve(dir.size() + stem.size() + suffix.size());
    name.append(dir).append(stem).append(suffix);
    return name;
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

}  // namespace velk
