#pragma once
// The words of velk's reports: what the engine's kinds, parts, fields and
// regions are called, in sentences for people (..._words) and as the
// stable ids of the JSON report (..._id). Both reports take their names
// from here, so that a name is spelled once.

#include <cstdint>
#include <string>

#include "cli/read_report.hpp"

namespace velk::cli::words {

// "0x" and at least `digits` upper-case hexadecimal digits.
std::string hex(std::uint64_t value, int digits = 1);
std::string num(std::uint64_t value);
// "1 byte", "2 bytes".
std::string plural(std::uint64_t n, const char* one, const char* many);

const char* part_id(image_part part);
const char* part_words(image_part part);
const char* field_id(header_field field);
const char* kind_id(image_kind kind);
const char* encoding_id(image_encoding encoding);
// What comes before the kind in a heading: "" for binary, "Intel HEX of a ", ...
std::string encoding_words(image_encoding encoding);
// An input encoding in the JSON report ("elf", "intel-hex", "s-record")
// and in sentences ("ELF", ...).
const char* input_encoding_id(input_encoding encoding);
const char* input_encoding_words(input_encoding encoding);
const char* region_id(map_region region);
const char* region_words(map_region region);
// The regions that are 0xFF fill, whose report says whether they are erased.
bool is_fill(map_region region);
// The kind or encoding a rejection is about, and why it did not fit.
const char* candidate_id(const rejection& r);
const char* candidate_words(const rejection& r);
const char* reason_id(const rejection& r);

// The name of what a problem of `part` was compared with.
std::string input_name(image_part part, const report_names& names);
// "twin NAME", for problems found in the twin.
std::string twin_name(const report_names& names);

}  // namespace velk::cli::words
