#include "cli/values.hpp"

#include <array>
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
    return listed(written_encodings(), "|", [](const encoding_info& row) { return std::string(row.name); });
}

std::string encoding_names() {
    return listed(all_encodings(), " or ", [](const encoding_info& row) { return std::string(row.name); });
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
