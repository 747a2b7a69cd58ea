#pragma once
// ELF files as an input: 32- and 64-bit, either byte order, any machine.
// The bytes taken are those a flash programmer takes from a linked
// program: every section that occupies memory (SHF_ALLOC) and has
// contents in the file (not SHT_NOBITS, size not 0), at its load address,
// which is its address moved as the PT_LOAD segment holding it is moved
// (physical minus virtual address). A file without section headers gives
// its PT_LOAD segments' file contents at their physical addresses
// instead. The entry address is kept as the start address.
//
// Nothing in the file is trusted: the identification, the header sizes,
// every table and every section's contents must lie inside the file, and
// every name inside the string table; the bytes are not copied but read
// from the file when the map is flattened or checked.

#include <cstdint>
#include <span>
#include <string>

#include "formats/address_map/address_map.hpp"
#include "io/access.hpp"

namespace velk {

// The extents of the ELF file `file`, labelled with their sections' names
// (or "segment N"); the map reads from `file`, which must outlive it. A
// format fault when the file breaks a rule of ELF, `why` naming the header
// or table and what is wrong (the fault's offset is where in the file); a
// read fault when the file cannot be read.
result<address_map> read_elf(const random_source& file, std::string& why);

// True when `head` starts with ELF's magic number, 0x7F 'E' 'L' 'F'.
bool looks_like_elf(std::span<const std::uint8_t> head);

}  // namespace velk
