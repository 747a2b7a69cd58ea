#include "formats/flash_crc/names.hpp"

#include <cassert>

namespace velk {
namespace {

constexpr std::string_view twin_extension = ".out";
constexpr std::string_view default_suffix = "_crc";
constexpr std::string_view single_twin_suffix = "bim_crc.out";

// Where the file name of `name` begins.
std::size_t file_name_at(std::string_view name) {
    const std::size_t slash = name.find_last_of("/\\");
    return slash == std::string_view::npos ? 0 : slash + 1;
}

// The default twin's name from the input's stem.
std::string twin_of_stem(const std::string& stem, twin_default which) {
    return stem + std::string(which == twin_default::single ? single_twin_suffix : twin_extension);
}

}  // namespace

bool has_file_name(std::string_view name) {
    const std::string_view base = name.substr(file_name_at(name));
    return !base.empty() && base != "-" && base != "." && base != "..";
}

std::string name_stem(std::string_view name) {
    assert(has_file_name(name));
    const std::size_t base_at = file_name_at(name);
    const std::size_t dot = name.substr(base_at).find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return std::string(name);
    return std::string(name.substr(0, base_at + dot));
}

std::string twin_name(std::string_view image) { return name_stem(image) + std::string(twin_extension); }

std::string default_image_name(std::string_view input, std::string_view extension) {
    return name_stem(input) + std::string(default_suffix) + std::string(extension);
}

std::string default_twin_name(std::string_view input, twin_default which) {
    return twin_of_stem(name_stem(input), which);
}

// A default image name is the input's stem, "_crc" and an extension; the
// input's stem gives the default twin back. The input's own extension is
// lost on the way, and default_twin_name never needed it.
std::vector<std::string> twin_names_for(std::string_view image, twin_default which) {
    if (!has_file_name(image)) return {};
    const std::string stem = name_stem(image);
    std::vector<std::string> names{stem + std::string(twin_extension)};
    const std::size_t base_at = file_name_at(stem);
    if (stem.size() - base_at > default_suffix.size() && stem.ends_with(default_suffix)) {
        const std::string input_stem = stem.substr(0, stem.size() - default_suffix.size());
        names.push_back(twin_of_stem(input_stem, which));
    }
    return names;
}

}  // namespace velk
