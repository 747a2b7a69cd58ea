#include "cli/values.hpp"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "cli/errors.hpp"
#include "formats/core/hex.hpp"

namespace velk::cli {
namespace {

// A digit of a decimal or hexadecimal number, or -1.
int digit_value(char c, unsigned radix) {
    const int v = velk::digit_value(c);
    return static_cast<unsigned>(v) < radix ? v : -1;
}

// "a, b or c".
template <class Name>
std::string listed(const std::vector<const encoding_info*>& rows, const char* last, Name name) {
    std::string text;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i != 0) text += i + 1 == rows.size() ? last : ", ";
        text += name(*rows[i]);
    }
    return text;
}

std::vector<const encoding_info*> written_encodings() {
    std::vector<const encoding_info*> rows;
    for (const encoding_info& e : encodings()) {
        if (e.writer != nullptr) rows.push_back(&e);
    }
    return rows;
}

// Keywords of C (C23) and of C++ (C++23, with the alternative spellings of
// operators), in their standards' order.
constexpr std::string_view c_keywords[] = {
    "alignas", "alignof", "auto", "bool", "break", "case", "char", "const", "constexpr", "continue",
    "default", "do", "double", "else", "enum", "extern", "false", "float", "for", "goto", "if",
    "inline", "int", "long", "nullptr", "register", "restrict", "return", "short", "signed",
    "sizeof", "static", "static_assert", "struct", "switch", "thread_local", "true", "typedef",
    "typeof", "typeof_unqual", "union", "unsigned", "void", "volatile", "while", "_Alignas",
    "_Alignof", "_Atomic", "_BitInt", "_Bool", "_Complex", "_Decimal128", "_Decimal32",
    "_Decimal64", "_Generic", "_Imaginary", "_Noreturn", "_Static_assert", "_Thread_local",
};
constexpr std::string_view cpp_keywords[] = {
    "alignas", "alignof", "asm", "auto", "bool", "break", "case", "catch", "char", "char8_t",
    "char16_t", "char32_t", "class", "concept", "const", "consteval", "constexpr", "constinit",
    "const_cast", "continue", "co_await", "co_return", "co_yield", "decltype", "default",
    "delete", "do", "double", "dynamic_cast", "else", "enum", "explicit", "export", "extern",
    "false", "float", "for", "friend", "goto", "if", "inline", "int", "long", "mutable",
    "namespace", "new", "noexcept", "nullptr", "operator", "private", "protected", "public",
    "register", "reinterpret_cast", "requires", "return", "short", "signed", "sizeof", "static",
    "static_assert", "static_cast", "struct", "switch", "template", "this", "thread_local",
    "throw", "true", "try", "typedef", "typeid", "typename", "union", "unsigned", "using",
    "virtual", "void", "volatile", "wchar_t", "while",
    "and", "and_eq", "bitand", "bitor", "compl", "not", "not_eq", "or", "or_eq", "xor", "xor_eq",
};

template <std::size_t n>
bool listed_in(const std::string_view (&words)[n], const std::string& word) {
    return std::find(std::begin(words), std::end(words), word) != std::end(words);
}

bool is_identifier(const std::string& text) {
    if (text.empty() || (text[0] >= '0' && text[0] <= '9')) return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

// Why an identifier is reserved to the implementation in C or C++, or "".
std::string reserved_because(const std::string& name) {
    if (name.size() > 1 && name[0] == '_' && name[1] >= 'A' && name[1] <= 'Z') {
        return "it begins with _ and an upper-case letter";
    }
    if (name.find("__") != std::string::npos) return "it contains __";
    return "";
}

// What makes an identifier unusable as a name, or "".
std::string keyword_or_reserved(const std::string& name) {
    const bool c = listed_in(c_keywords, name);
    const bool cpp = listed_in(cpp_keywords, name);
    if (c || cpp) return std::string("a ") + (c && cpp ? "C and C++" : c ? "C" : "C++") + " keyword";
    const std::string why = reserved_because(name);
    return why.empty() ? why : "a reserved identifier (" + why + ")";
}

std::vector<const encoding_info*> all_encodings() {
    std::vector<const encoding_info*> rows;
    for (const encoding_info& e : encodings()) rows.push_back(&e);
    return rows;
}


}  // namespace

std::uint64_t parse_number(const std::string& option, const std::string& text, std::uint64_t max) {
    std::string_view digits = text;
    unsigned radix = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
        radix = 16;
    }
    if (digits.empty()) {
        usage_error(option + ": '" + text + "' is not a number (decimal or 0x hexadecimal)");
    }
    std::uint64_t value = 0;
    bool too_big = false;
    for (const char c : digits) {
        const int d = digit_value(c, radix);
        if (d < 0) {
            usage_error(option + ": '" + text + "' is not a number (decimal or 0x hexadecimal)");
        }
        if (value > (max - static_cast<unsigned>(d)) / radix) too_big = true;
        if (!too_big) value = value * radix + static_cast<unsigned>(d);
    }
    if (too_big) usage_error(option + ": " + text + " is larger than " + hex_text(max));
    return value;
}

scramble_keys parse_keys(const std::string& option, const std::string& text) {
    std::array<std::uint32_t, 4> words{};
    std::size_t count = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string word = text.substr(start, comma == std::string::npos ? std::string::npos
                                                                               : comma - start);
        bool good = !word.empty() && word.size() <= 8 && count < words.size();
        std::uint32_t value = 0;
        for (const char c : word) {
            const int d = digit_value(c, 16);
            if (d < 0) good = false;
            value = (value << 4) | static_cast<std::uint32_t>(d < 0 ? 0 : d);
        }
        if (!good) break;
        words[count++] = value;
        if (comma == std::string::npos) {
            if (count == words.size()) return {words[0], words[1], words[2], words[3]};
            break;
        }
        start = comma + 1;
    }
    usage_error(option + ": '" + text +
                "' is not four comma-separated keys of 1 to 8 hexadecimal digits");
}

image_encoding parse_format(const std::string& option, const std::string& text) {
    const encoding_info* e = encoding_named(text);
    if (e != nullptr && e->writer != nullptr) return e->what;
    const std::vector<const encoding_info*> rows = written_encodings();
    const auto name = [](const encoding_info& row) { return std::string(row.name); };
    usage_error(option + ": '" + text + "' is " +
                (rows.size() == 2 ? "neither " + name(*rows[0]) + " nor " + name(*rows[1])
                                  : "none of " + listed(rows, " or ", name)));
}

std::string format_help() {
    return listed(written_encodings(), " or ", [](const encoding_info& row) {
        return std::string(row.name) + " (" + row.words +
               (row.what == image_encoding::binary ? ", the default)" : ")");
    });
}

std::string format_names() {
    std::string names;
    for (const encoding_info* row : written_encodings()) {
        if (!names.empty()) names += '|';
        names += row->name;
    }
    return names;
}

std::string encoding_names() {
    return listed(all_encodings(), " or ", [](const encoding_info& row) { return std::string(row.name); });
}

std::string parse_array_name(const std::string& option, const std::string& text) {
    if (!is_identifier(text)) usage_error(option + ": '" + text + "' is not a C identifier");
    const std::string problem = keyword_or_reserved(text);
    if (!problem.empty()) usage_error(option + ": '" + text + "' is " + problem);
    const std::string length = text + "_len";
    const std::string length_problem = keyword_or_reserved(length);
    if (!length_problem.empty()) {
        usage_error(option + ": '" + text + "' gives the length " + length + ", " + length_problem);
    }
    return text;
}

kind_choice parse_kind(const std::string& option, const std::string& text) {
    struct family_name {
        const char* name;
        kind_family family;
    };
    static constexpr family_name families[] = {
        {"flash-crc", kind_family::flash_crc},  {"padded-flash-crc", kind_family::padded_flash_crc},
        {"oad", kind_family::oad},              {"oad-stack", kind_family::oad_stack},
        {"oad-app", kind_family::oad_app},      {"merged", kind_family::merged},
    };
    const std::size_t colon = text.find(':');
    const std::string first = text.substr(0, colon);
    const std::string second = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    kind_choice choice;
    if (const encoding_info* e = encoding_named(first)) choice.encoding = e->what;
    const std::string& family = choice.encoding ? second : first;
    for (const family_name& f : families) {
        if (family == f.name) choice.family = f.family;
    }
    const bool whole = choice.encoding ? (colon == std::string::npos || choice.family)
                                       : (colon == std::string::npos && choice.family);
    if (!whole) {
        usage_error(option + ": '" + text + "' is not a kind: " + encoding_names() +
                    ", flash-crc, padded-flash-crc, oad, "
                    "oad-stack, oad-app or merged, or ENCODING:KIND such as hex:merged");
    }
    return choice;
}

}  // namespace velk::cli
