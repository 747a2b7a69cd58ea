#include "compat/keys.hpp"

#include "compat/console.hpp"
#include "formats/core/hex.hpp"

namespace velk::compat {
hex_key_reading read_hex_key(const char* text) {
    if (text == nullptr) return {};
    std::uint32_t value = 0;
    bool negative = false;
    for (const char* p = text; *p != '\0' && *p != ' '; ++p) {
        if (*p == '-') {
            negative = true;
            continue;
        }
        const int digit = hex_digit(*p);
        if (digit < 0) return {0, true};
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return {negative ? 0u - value : value, false};
}

std::uint32_t parse_hex_key(const char* text) {
    const hex_key_reading key = read_hex_key(text);
    if (key.bad) say(" Error: Parameter failed!\n");
    return key.value;
}

scramble_keys parse_scramble_keys(const std::array<const char*, 4>& texts) {
    scramble_keys keys;
    keys.key1 = parse_hex_key(texts[0]);
    keys.key2 = parse_hex_key(texts[1]);
    keys.key3 = parse_hex_key(texts[2]);
    keys.control = parse_hex_key(texts[3]);
    return keys;
}

}  // namespace velk::compat
