#pragma once
// Option lookup in the process's argument vector. Every command reads its
// options from the whole vector, entry 0 (the program name) included, so a
// token such as "-l" is seen by every command that knows it.

#include <cstdint>
#include <string_view>

namespace velk::compat {

// Index of the first entry equal to word (exact, case-sensitive), or -1.
int find_option(int argc, const char* const* argv, std::string_view word);

// Length of word when some entry equals it, else 0.
int option_present(int argc, const char* const* argv, std::string_view word);

// The token after an option, or null when the option is absent or is the
// last token (so nothing past the vector is ever read).
const char* option_value(int argc, const char* const* argv, std::string_view word);

// Reads a number as the C library's strtoul with base 0 does on a system
// with 32-bit unsigned long: leading blanks and one sign allowed; "0x" means
// hexadecimal, a leading "0" octal, else decimal; reading stops at the first
// character that does not fit and no digits give 0; a value above
// 0xFFFFFFFF gives 0xFFFFFFFF, and a minus negates modulo 2^32. A null text
// reads as 0.
std::uint32_t read_number(const char* text);

}  // namespace velk::compat
