// velk's own C files: the source that defines the array and the header
// that declares it. Both start with a comment naming their writer and input,
// and the source declares the array before defining it, by the header or
// in its own text: in C that quiets -Wmissing-variable-declarations and lets
// the compiler check the header against the definition, and in C++ a const
// definition without a declaration before it would have internal linkage.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/core/hex.hpp"
#include "formats/export/c_elements.hpp"
#include "formats/export/export.hpp"

namespace velk {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_lower(char c) { return c >= 'a' && c <= 'z'; }

// `text` fit for the inside of a /* */ comment: what could end it or start
// a nested one ('*', '/'), make a trigraph ('?') or splice lines ('\\'),
// and every byte that is not printable ASCII, spelt \xNN.
std::string comment_safe(std::string_view text) {
    std::string safe;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = byte >= 0x20 && byte < 0x7F && c != '*' && c != '/' && c != '?' && c != '\\';
        if (plain) {
            safe.push_back(c);
        } else {
            safe.append("\\x").append(hex_digit_pairs[byte].data(), 2);
        }
    }
    return safe;
}

// The comment both files start with. No date: the same input and settings
// give the same bytes.
std::string origin_comment(const export_context& context) {
    return "/* Written by " + comment_safe(context.origin.writer) + " from " +
           comment_safe(context.origin.input_name) + " (" +
           std::to_string(context.input_size.value_or(0)) + " bytes). */\r\n\r\n";
}

std::string qualifier(const export_settings& settings) { return settings.constant ? "const " : ""; }

// "const uint8_t fw[301]": the array as declared and as defined.
std::string array_declarator(const export_settings& settings, std::uint64_t input_size) {
    return qualifier(settings) + std::string(c_element_type(settings)) + " " + settings.array_name + "[" +
           std::to_string(c_element_count(settings, input_size)) + "]";
}

std::string length_declarator(const export_settings& settings) {
    return qualifier(settings) + std::string(c_length_type(settings)) + " " + settings.array_name + "_len";
}

// The array's declarations, with C linkage when compiled as C++.
std::string declarations(const export_settings& settings, std::uint64_t input_size) {
    std::string text;
    if (settings.fixed_width_types) text.append("#include <stdint.h>\r\n\r\n");
    text.append("#ifdef __cplusplus\r\nextern \"C\" {\r\n#endif\r\n\r\n");
    text.append("extern ").append(array_declarator(settings, input_size)).append(";\r\n");
    if (settings.length_symbol) text.append("extern ").append(length_declarator(settings)).append(";\r\n");
    text.append("\r\n#ifdef __cplusplus\r\n}\r\n#endif\r\n");
    return text;
}

class c_source final : public c_elements {
public:
    void head(BlockWriter& out, const export_settings& settings,
              const export_context& context) const override {
        const std::uint64_t input_size = context.input_size.value_or(0);
        out.put(origin_comment(context));
        if (context.origin.header_name.empty()) {
            out.put(declarations(settings, input_size));
        } else {
            out.put("#include \"");
            out.put(context.origin.header_name);
            out.put("\"\r\n");
        }
        out.put("\r\n" + array_declarator(settings, input_size) + " =\r\n{\r\n    ");
    }

    void tail(BlockWriter& out, const export_settings& settings,
              const export_context& context) const override {
        out.put("\r\n};\r\n");
        if (settings.length_symbol) {
            out.put("\r\n" + length_declarator(settings) + " = " +
                    std::to_string(context.input_size.value_or(0)) + ";\r\n");
        }
    }
};

// Prefixes the C library reserves for the macros of its headers, when a
// capital letter (for "E", also a digit) follows them.
constexpr std::array<std::string_view, 13> library_prefixes = {
    "E", "SIG", "SIG_", "LC_", "FE_", "PRI", "SCN", "ATOMIC_", "MEMORY_ORDER_", "TIME_", "DBL_", "FLT_", "LDBL_"};

bool library_reserved(std::string_view guard) {
    for (const std::string_view prefix : library_prefixes) {
        if (guard.size() > prefix.size() && guard.substr(0, prefix.size()) == prefix) {
            const char next = guard[prefix.size()];
            if (is_upper(next) || (prefix == "E" && is_digit(next))) return true;
        }
    }
    return false;
}

}  // namespace

std::string c_header_text(const export_settings& settings, const export_context& context,
                          std::string_view guard) {
    std::string text = origin_comment(context);
    text.append("#ifndef ").append(guard).append("\r\n#define ").append(guard).append("\r\n\r\n");
    text.append(declarations(settings, context.input_size.value_or(0)));
    text.append("\r\n#endif\r\n");
    return text;
}

std::string c_include_guard(std::string_view file_name) {
    std::string guard;
    bool gap = false;  // a run of other characters since the last letter or digit
    for (const char c : file_name) {
        if (!is_upper(c) && !is_lower(c) && !is_digit(c)) {
            gap = true;
            continue;
        }
        if (gap && !guard.empty()) guard.push_back('_');
        gap = false;
        guard.push_back(is_lower(c) ? static_cast<char>(c - 'a' + 'A') : c);
    }
    if (guard.empty()) return "VELK_H";
    if (is_digit(guard[0]) || library_reserved(guard)) guard.insert(0, "VELK_");
    return guard;
}

bool c_includable(std::string_view file_name) {
    if (file_name.empty()) return false;
    for (const char c : file_name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\'' || c == '\\') return false;
    }
    return file_name.find("//") == std::string_view::npos && file_name.find("/*") == std::string_view::npos;
}

const export_format& c_source_format() {
    static const c_source format;
    return format;
}

}  // namespace velk
