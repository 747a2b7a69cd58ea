#include "compat/args.hpp"

#include <cstring>
#include <limits>

#include "formats/core/hex.hpp"

namespace velk::compat {

int find_option(int argc, const char* const* argv, std::string_view word) {
    for (int i = 0; i < argc; ++i) {
        if (argv[i] != nullptr && word == argv[i]) return i;
    }
    return -1;
}

int option_present(int argc, const char* const* argv, std::string_view word) {
    return find_option(argc, argv, word) >= 0 ? static_cast<int>(word.size()) : 0;
}

const char* option_value(int argc, const char* const* argv, std::string_view word) {
    const int i = find_option(argc, argv, word);
    return (i >= 0 && i + 1 < argc) ? argv[i + 1] : nullptr;
}

namespace {

bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

std::uint32_t read_number(const char* text) {
    if (text == nullptr) return 0;
    const char* p = text;
    while (is_blank(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';

    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digit_value(p[2]) < 16) {
        base = 16;
        p += 2;
    } else if (p[0] == '0') {
        base = 8;
    }

    constexpr std::uint64_t limit = std::numeric_limits<std::uint32_t>::max();
    std::uint64_t value = 0;
    bool overflow = false;
    for (; digit_value(*p) < base; ++p) {
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit_value(*p));
        if (value > limit) {
            overflow = true;
            value = limit;
        }
    }
    if (overflow) return std::numeric_limits<std::uint32_t>::max();
    const auto result = static_cast<std::uint32_t>(value);
    return negative ? static_cast<std::uint32_t>(0u - result) : result;
}

}  // namespace velk::compat
