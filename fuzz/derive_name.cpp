// The output-name rule: whatever the input, a derived name keeps the
// input's directory part, ends with the suffix, and the stem in between
// holds no path separator.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "compat/names.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The rule prints its warnings; keep the fuzzer's output readable.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = all.find('\0');
    const std::string_view input = all.substr(0, cut);
    const std::string_view suffix =
        cut == std::string_view::npos ? std::string_view("_crc.bin") : all.substr(cut + 1);

    const auto name = velk::compat::derive_file_name(input, suffix);
    const std::size_t slash = input.find_last_of("/\\");
    const std::string_view dir = input.substr(0, slash == std::string_view::npos ? 0 : slash + 1);
    const std::string_view base = input.substr(dir.size());
    if (!name) {
        // Only a base name without a stem yields no name.
        if (base.find_first_not_of('.') != std::string_view::npos) std::abort();
        return 0;
    }
    const std::string_view n(*name);
    if (!n.starts_with(dir) || !n.ends_with(suffix)) std::abort();
    if (n.size() < dir.size() + suffix.size()) std::abort();
    const std::string_view stem = n.substr(dir.size(), n.size() - dir.size() - suffix.size());
    if (stem.empty() || stem.find_first_of("/\\") != std::string_view::npos) std::abort();
    if (!base.starts_with(stem)) std::abort();
    return 0;
}
