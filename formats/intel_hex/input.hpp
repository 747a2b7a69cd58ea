#pragma once
// Intel HEX as an input, as tool chains write it: data records (00) at
// 16-bit offsets from an extended segment (02) or extended linear (04)
// address, start addresses (03, 05), an end-of-file record (01). Every
// record is checked (syntax, byte count, checksum, type, the length its
// type asks for); records may come in any address order. The data go
// into an address map, one chunk a run of adjacent records. A record's
// bytes follow each other in the address space even past a 64 KiB
// boundary of its offset, as binutils reads them.
//
// Unlike the reader of velk's own HEX images (reader.hpp), this one places
// the data where the file says and leaves gaps and overlaps to the map.

#include <cstdint>
#include <span>
#include <string>

#include "formats/address_map/address_map.hpp"
#include "io/access.hpp"

namespace velk {

// The data and start address of the Intel HEX text `text`. A format fault
// for any malformed record, a missing end-of-file record or a record after
// it, `why` naming the line and what is wrong (the fault's offset is the
// line's in the text); a read fault when the text cannot be read.
// With a `spool`, the decoded data are set aside there instead of in
// memory (see run_collector); the map then reads from it.
result<address_map> read_intel_hex_input(const random_source& text, std::string& why, scratch* spool = nullptr);

// True when the first line of `head` that is not empty starts with ':'
// and a hex digit.
bool looks_like_intel_hex_input(std::span<const std::uint8_t> head);

}  // namespace velk
