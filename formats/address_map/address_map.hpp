#pragma once
// An input that says where its bytes go: an ELF file, Intel HEX, S-records.
// Each is read into the same model, a list of extents (so many bytes at
// such an address, from such a place) and perhaps a start address, and
// turned into a flat image only here, by one set of rules: the gaps are
// erased flash (0xFF), two extents may share addresses only with the same
// bytes there, and nothing lies below the image's origin or past its size.
//
// An ELF file's bytes stay in the file and are read by range when needed,
// so a large image is never held twice; text formats decode into memory,
// one vector a run of adjacent records, not one a record.
//
// A fault carries no words, and a format fault in a file someone wrote by
// hand must say where it is; so every function that can find one also
// takes a string `why`, which it sets to that place and what is wrong
// there, and leaves alone on success.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "io/access.hpp"

namespace velk {

// So many bytes at an address. They are in the input file at `offset`
// when `chunk` is empty, else in the map's chunks[*chunk] at `offset`.
struct extent {
    std::uint64_t address = 0;
    std::uint64_t length = 0;  // never 0; address + length never passes 2^64
    std::uint64_t offset = 0;
    std::optional<std::size_t> chunk;
    std::string label;  // the section's or segment's name; may be empty
};

struct address_map {
    std::vector<extent> extents;
    std::vector<std::vector<std::uint8_t>> chunks;  // decoded bytes
    // The file the extents without a chunk are read from; it must outlive
    // the map. Null when every extent has a chunk.
    const random_source* file = nullptr;
    std::optional<std::uint64_t> start;  // the entry or start address
};

// Orders the extents by address; extents at one address keep their order.
void sort_extents(address_map& map);

// The lowest address with data, and the end of the highest extent (one
// past its last byte); both 0 for a map without extents.
std::uint64_t lo(const address_map& map);
std::uint64_t hi(const address_map& map);

// Reads buf.size() bytes of `e` from `at` bytes into it; at + buf.size()
// must not pass e.length.
status read_extent(const address_map& map, const extent& e, std::uint64_t at, std::span<std::uint8_t> buf);

// Checks that extents sharing an address hold the same bytes there. A
// format fault otherwise, its offset the first address that differs,
// `why` naming it and both extents' labels. Needs the extents sorted.
status check_overlaps(const address_map& map, std::string& why);

// The part of the map in [start, end): extents cut to it, those outside
// dropped; the start address and the chunks are kept. Taken by value so
// that a caller done with the whole map moves it in and its decoded bytes
// are not copied.
address_map crop(address_map map, std::uint64_t start, std::uint64_t end);

// The checks flatten makes before it writes anything: a layout fault
// when data lie below the origin (offset: the first such address) or the
// image would be longer than `max_size` (offset: the end of the extent
// that makes it so, `why` naming it).
status check_span(const address_map& map, std::uint64_t origin, std::uint64_t max_size, std::string& why);

// Writes the image from `origin` to hi(map) to `out`, every gap filled
// with 0xFF; an empty map writes nothing. A layout fault, before anything
// is written, when data lie below the origin (offset: the first such
// address) or the image would be longer than `max_size` (offset: the end
// of the extent that makes it so, `why` naming it). Needs the extents
// sorted and, where they overlap, checked: where two hold one address the
// first one's byte is written.
status flatten(const address_map& map, std::uint64_t origin, std::uint64_t max_size, byte_sink& out,
               std::string& why);

// The image of a map from `origin` to hi(map), every gap erased flash
// (0xFF), as a source read in order or by offset from any thread: what a
// writer converts, without the image ever being made whole. The map must
// be sorted, checked for overlaps and pass check_span, and outlive this.
class flat_image final : public byte_source, public random_source {
public:
    flat_image(const address_map& map, std::uint64_t origin);

    std::size_t read(std::span<std::uint8_t> buf) override;
    bool error() const override { return error_ != 0; }
    int error_number() const override { return error_; }
    const random_source* positional() const override { return position_ == 0 ? this : nullptr; }

    std::uint64_t size() const override { return size_; }
    status read_at(std::uint64_t offset, std::span<std::uint8_t> buf) const override;

private:
    const address_map& map_;
    std::uint64_t origin_;
    std::uint64_t size_;
    // The furthest end of the extents up to each: where a read's first
    // extent is found by a binary search.
    std::vector<std::uint64_t> ends_;
    std::uint64_t position_ = 0;
    int error_ = 0;
};

// "0x" and at least eight upper-case hex digits: how the messages write
// an address.
std::string address_text(std::uint64_t address);

}  // namespace velk
