#pragma once
// Key strings as the -oad command line gives them ("-e K1 K2 K3 K4").

#include <array>
#include <cstdint>

#include "formats/scramble/scramble.hpp"

namespace velk::compat {

// A key string of bare hexadecimal digits (either case) read up to its NUL
// or its first blank; only the last eight digits count. A '-' anywhere
// negates the result modulo 2^32 (several count as one). Any other
// character makes the key bad, with value 0. A null text reads as 0.
struct hex_key_reading {
    std::uint32_t value = 0;
    bool bad = false;
};
hex_key_reading read_hex_key(const char* text);

// read_hex_key, after printing " Error: Parameter failed!\n" for a bad key.
std::uint32_t parse_hex_key(const char* text);

// The key words of four key strings, in order K1, K2, K3, control; each
// bad one announced as parse_hex_key does.
scramble_keys parse_scramble_keys(const std::array<const char*, 4>& texts);

// The key string the -oad options announce and use by default.
inline constexpr const char* default_key = "00A5A5A5";

}  // namespace velk::compat
