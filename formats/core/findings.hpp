#pragma once
// What reading an image back finds wrong: one typed problem per broken
// promise, in a list that keeps the first few of each kind and counts the
// rest, so that a file made of nothing but faults still costs a fixed
// amount of memory. Front ends turn problems into words; the engine only
// says which promise failed, where, and the values involved.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace velk {

// The promise that failed. The comment of each says what the fields of
// the problem hold; fields not named there are 0.
enum class check {
    block_crc,         // index: block; offset: its start; stored, computed: CRC-16
    partial_block,     // offset: where the last, partial block starts; count: its bytes
    padding_length,    // stored: bytes after the blocks; count: the file's length
    padding_byte,      // offset: first byte that is not 0xFF; stored: its value; count: such bytes
    header_missing,    // part: which header; offset: where it belongs; count: the image's length
    header_crc,        // part; offset: the header; stored, computed: CRC-32
    header_length,     // part; offset: the header; stored: length_words;
                       // computed: the words of the real length, low 16 bits; count: the real length
    header_reserved,   // part; offset: the header; stored: the two bytes, first in bits 8-15
    header_field,      // part; field; offset: the header; stored; computed: what was written
    headers_disagree,  // field (version or rom_version); stored: the stack header's; computed: the app's
    fill_byte,         // part: the fill; offset: first byte not 0xFF; stored: its value; count: such bytes
    end_padding,       // offset: where the padding starts; stored: its length;
                       // computed: the length the 256-byte rule asks for (0: any of 1 to 256)
    data_differs,      // part: what was compared (raw, boot, stack, app); offset: first difference
                       // in that input's terms; stored: the image's byte; computed: the input's
                       // (0x100 for a side that has ended there); count: bytes that differ
    length_differs,    // part; stored: bytes the image holds for it; computed: bytes the input has
    twin_line,         // part (image or twin); index: line (from 1); offset: in the twin file;
                       // stored: the line's first four bytes, first in bits 24-31; count: bytes
    twin_differs,      // offset: first image byte the twin spells differently; count: such bytes
    twin_length,       // stored: image bytes the twin spells; computed: image bytes it should
    hex_syntax,        // index: line (from 1); offset: in the file
    hex_checksum,      // index; offset; stored: the record's checksum; computed: what it should be
    hex_record_type,   // index; offset; stored: the type
    hex_address,       // index; offset; stored: the record's address; computed: the first
                       // address it may take (records ascend without overlap, inside 64 KiB
                       // pages and below the image's end)
    hex_end,           // index: line of the first record after the end record (0: there is
                       // no end record)
    read_error,        // offset: how far the file was read
};
inline constexpr std::size_t check_count = static_cast<std::size_t>(check::read_error) + 1;

// The parts of an image a problem can be about.
enum class image_part {
    image,          // the file as a whole
    stack_header,
    app_header,
    boot,
    boot_fill,      // 0xFF between the boot data and the stack header
    stack,
    stack_fill,     // 0xFF between the stack data and the app header
    app,
    end_padding,
    raw,            // the raw image a flash CRC image was made from
    twin,           // the text twin beside a flash CRC image
};

// The fields of an OAD header, in their stored order.
enum class header_field { crc, version, length_words, uid, reserved, rom_version };

struct problem {
    check what = check::read_error;
    image_part part = image_part::image;
    header_field field = header_field::crc;
    std::uint64_t offset = 0;
    std::uint64_t index = 0;
    std::uint64_t stored = 0;
    std::uint64_t computed = 0;
    std::uint64_t count = 0;
};

// Every problem found, the first `kept_per_check` of each kind kept in the
// order found, the others only counted.
class problem_list {
public:
    static constexpr std::uint64_t kept_per_check = 10;

    void add(const problem& p) {
        const auto k = static_cast<std::size_t>(p.what);
        if (totals_[k]++ < kept_per_check) kept_.push_back(p);
    }
    bool empty() const { return kept_.empty(); }
    const std::vector<problem>& kept() const { return kept_; }
    std::uint64_t total(check what) const { return totals_[static_cast<std::size_t>(what)]; }
    std::uint64_t total() const {
        std::uint64_t sum = 0;
        for (const std::uint64_t t : totals_) sum += t;
        return sum;
    }

private:
    std::vector<problem> kept_;
    std::array<std::uint64_t, check_count> totals_{};
};

}  // namespace velk
