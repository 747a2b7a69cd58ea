#pragma once
// What an input operand holds, told by its content: raw bytes, which are
// the image as they are, or one of the tool chain's files that say where
// their bytes go (ELF, Intel HEX, S-records), read into an address map and
// placed by address. A file that starts like one of those and breaks its
// rules is refused, never taken as raw bytes.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "formats/address_map/address_map.hpp"
#include "io/access.hpp"
#include "io/fault.hpp"

namespace velk {

enum class input_encoding { binary, elf, intel_hex, srec };

struct input_encoding_info {
    input_encoding what;
    const char* name;   // on the command line: --input-format
    const char* words;  // in sentences
    // Whether a file's first bytes start this encoding; null for binary,
    // which is what a file is when it is none of the others.
    bool (*looks_like)(std::span<const std::uint8_t> head);
    // Reads the file into an address map, setting decoded text aside in
    // `spool`; null for binary.
    result<address_map> (*read)(const random_source& file, scratch& spool, std::string& why);
};

// Every input encoding, in the order detection tries them (binary last).
std::span<const input_encoding_info> input_encodings();
const input_encoding_info& input_encoding_of(input_encoding what);
// The encoding --input-format calls `name`; null when none is.
const input_encoding_info* input_encoding_named(std::string_view name);

// How many first bytes detection looks at.
inline constexpr std::size_t input_head_bytes = 512;

// The encoding a file starting with `head` is in.
const input_encoding_info& detect_input(std::span<const std::uint8_t> head);

// An input as read: its encoding, and for one that carries addresses its
// map, sorted and checked for overlaps.
struct placed_input {
    const input_encoding_info* encoding = nullptr;
    std::optional<address_map> map;
};

// Reads `file` in `forced` encoding, or the one its content shows. A
// format fault for a file that breaks its encoding's rules or holds two
// different bytes at one address, `why` saying where; a read fault when
// it cannot be read.
// `spool` keeps what a text encoding decodes (the map reads from it), so
// that memory stays small whatever the input's size; it must outlive the
// map.
result<placed_input> read_input(const random_source& file, std::optional<input_encoding> forced,
                                scratch& spool, std::string& why);

}  // namespace velk
