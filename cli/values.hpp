#pragma once
// The values velk's options take, read strictly: a typo is a usage error
// that names the option, never a silent zero.

#include <cstdint>
#include <string>

#include "cli/commands.hpp"
#include "formats/encoding/encoding.hpp"
#include "formats/readback/kind.hpp"
#include "formats/scramble/scramble.hpp"

namespace velk::cli {

// Decimal or "0x"/"0X" hexadecimal digits, nothing else (no sign, no
// blanks), whose value is at most `max`. Usage error otherwise, naming
// `option`.
std::uint64_t parse_number(const std::string& option, const std::string& text, std::uint64_t max);

// Four comma-separated words of 1 to 8 hexadecimal digits: K1, K2, K3 and
// the control word. Usage error otherwise.
scramble_keys parse_keys(const std::string& option, const std::string& text);

// The encodings velk writes images in, by their names on the command line
// (those of the encoding table's rows that have a writer).
image_encoding parse_format(const std::string& option, const std::string& text);
// "bin (raw image, the default) or hex (Intel HEX)": --format's help.
std::string format_help();
// "bin|hex": --format's value, for help.
std::string format_names();
// "bin, hex or twin": every encoding, in --kind's words.
std::string encoding_names();

// The name --name gives the C array: an identifier that compiles as C and
// as C++ wherever the export puts it, and whose length symbol IDENT_len
// does too. Neither may be a keyword of C or C++ (the alternative
// spellings of operators such as "and" included) nor reserved to the
// implementation (beginning with _ and an upper-case letter or a second _,
// or containing __). Usage error otherwise, naming `option` and the
// problem.
std::string parse_array_name(const std::string& option, const std::string& text);

// A kind of image file: an encoding (bin, hex, twin), a kind of image
// (flash-crc, padded-flash-crc, oad, oad-stack, oad-app, merged), or both
// as ENCODING:KIND. Usage error otherwise.
kind_choice parse_kind(const std::string& option, const std::string& text);

}  // namespace velk::cli
