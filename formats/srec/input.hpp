#pragma once
// Motorola S-records as an input: a header (S0), data at 16-, 24- or
// 32-bit addresses (S1, S2, S3), counts of the data records so far (S5,
// S6), and one termination record with the start address (S9, S8, S7)
// that ends the file. Every record is checked: syntax, byte count,
// checksum, type, the address length of its type, and each count against
// the data records seen. Records may come in any address order; the data
// go into an address map, one chunk a run of adjacent records.

#include <cstdint>
#include <span>
#include <string>

#include "formats/address_map/address_map.hpp"
#include "io/access.hpp"

namespace velk {

// The data and start address of the S-record text `text`. A format fault
// for any malformed record, a wrong count, a missing termination record or
// a record after it, `why` naming the line and what is wrong (the fault's
// offset is the line's in the text); a read fault when the text cannot be
// read.
// With a `spool`, the decoded data are set aside there instead of in
// memory (see run_collector); the map then reads from it.
result<address_map> read_srec(const random_source& text, std::string& why, scratch* spool = nullptr);

// True when `head` starts with 'S' and a digit.
bool looks_like_srec(std::span<const std::uint8_t> head);

}  // namespace velk
