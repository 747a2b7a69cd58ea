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

// The promise that failed. What each field of a problem holds for it is
// in its row of check_table, below.
enum class check {
    block_crc,
    partial_block,
    padding_length,
    padding_byte,
    header_missing,
    header_crc,
    header_length,
    header_reserved,
    header_field,
    headers_disagree,
    fill_byte,
    end_padding,
    data_differs,
    length_differs,
    twin_line,
    twin_differs,
    twin_length,
    hex_syntax,
    hex_checksum,
    hex_record_type,
    hex_address,
    hex_end,
    srec_syntax,
    srec_checksum,
    srec_record_type,
    srec_count,
    srec_address,
    srec_end,
    read_error,
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

// What a problem's fields hold for one check: a meaning for each field
// the check fills, nullptr for the fields it leaves at 0. Reports show the
// fields that have a meaning and no others.
struct check_fields {
    const char* part = nullptr;  // nullptr: always image_part::image
    const char* field = nullptr;
    const char* offset = nullptr;
    const char* index = nullptr;
    const char* stored = nullptr;
    const char* computed = nullptr;
    const char* count = nullptr;
};

// One check described: its stable name (as reports and scripts know it),
// its fields, and how wide its stored and computed values are in
// hexadecimal (0: they are lengths or counts, shown in decimal only).
struct check_info {
    check what;
    const char* id;
    check_fields fields;
    int hex_digits;
};

inline constexpr std::array<check_info, check_count> check_table{{
    {check::block_crc, "block-crc",
     {.offset = "the block's start", .index = "block", .stored = "CRC-16", .computed = "CRC-16 of its data"}, 4},
    {check::partial_block, "partial-block",
     {.offset = "where the last, partial block starts", .count = "its bytes"}, 0},
    {check::padding_length, "padding-length",
     {.offset = "where the padding starts", .stored = "bytes after the blocks", .count = "the file's length"}, 0},
    {check::padding_byte, "padding-byte",
     {.part = "the end padding", .offset = "first byte that is not 0xFF", .stored = "its value",
      .count = "such bytes"}, 2},
    {check::header_missing, "header-missing",
     {.part = "which header", .offset = "where it belongs", .count = "the image's length"}, 0},
    {check::header_crc, "header-crc",
     {.part = "which header", .offset = "the header", .stored = "CRC-32", .computed = "CRC-32 of what follows"}, 8},
    {check::header_length, "header-length",
     {.part = "which header", .offset = "the header", .stored = "length_words",
      .computed = "the words of the real length, low 16 bits", .count = "the real length"}, 4},
    {check::header_reserved, "header-reserved",
     {.part = "which header", .offset = "the header", .stored = "the two bytes, first in bits 8-15",
      .computed = "what they must be"}, 4},
    {check::header_field, "header-field",
     {.part = "which header", .field = "which field", .offset = "the header", .stored = "the field",
      .computed = "what was written"}, 4},
    {check::headers_disagree, "headers-disagree",
     {.part = "the stack header", .field = "version or rom_version", .offset = "the stack header",
      .stored = "the stack header's", .computed = "the app header's"}, 4},
    {check::fill_byte, "fill-byte",
     {.part = "the fill", .offset = "first byte not 0xFF", .stored = "its value", .count = "such bytes"}, 2},
    {check::end_padding, "end-padding",
     {.part = "end padding", .offset = "where the padding starts", .stored = "its length",
      .computed = "the length the 256-byte rule asks for (0: any of 1 to 256)",
      .count = "bytes past a 256-byte page, when the lengths are not known"}, 0},
    {check::data_differs, "data-differs",
     {.part = "what was compared (raw, boot, stack, app)",
      .offset = "first difference, in that input's terms",
      .stored = "the image's byte (0x100: it has ended there)",
      .computed = "the input's byte (0x100: it has ended there)", .count = "bytes that differ"}, 2},
    {check::length_differs, "length-differs",
     {.part = "what was compared", .stored = "bytes the image holds for it", .computed = "bytes the input has"}, 0},
    {check::twin_line, "twin-line",
     {.part = "image or twin", .offset = "in the twin file", .index = "line (from 1)",
      .stored = "the line's first four bytes, first in bits 24-31", .count = "the line's bytes"}, 8},
    {check::twin_differs, "twin-differs",
     {.part = "the twin", .offset = "first image byte the twin spells differently", .count = "such bytes"}, 0},
    {check::twin_length, "twin-length",
     {.part = "the twin", .stored = "image bytes the twin spells", .computed = "image bytes it should"}, 0},
    {check::hex_syntax, "hex-syntax", {.offset = "in the file", .index = "line (from 1)"}, 0},
    {check::hex_checksum, "hex-checksum",
     {.offset = "in the file", .index = "line (from 1)", .stored = "the record's checksum",
      .computed = "what it should be"}, 2},
    {check::hex_record_type, "hex-record-type",
     {.offset = "in the file", .index = "line (from 1)", .stored = "the type"}, 2},
    {check::hex_address, "hex-address",
     {.offset = "in the file", .index = "line (from 1)", .stored = "the record's address",
      .computed = "the first address it may take (records ascend without overlap, inside 64 KiB "
                  "pages and below the image's end)"}, 8},
    {check::hex_end, "hex-end",
     {.offset = "in the file",
      .index = "line of the first record after the end record (0: there is no end record)"}, 0},
    {check::srec_syntax, "srec-syntax", {.offset = "in the file", .index = "line (from 1)"}, 0},
    {check::srec_checksum, "srec-checksum",
     {.offset = "in the file", .index = "line (from 1)", .stored = "the record's checksum",
      .computed = "what it should be"}, 2},
    {check::srec_record_type, "srec-record-type",
     {.offset = "in the file", .index = "line (from 1)", .stored = "the type (the digit after S)"}, 0},
    {check::srec_count, "srec-count",
     {.offset = "in the file", .index = "line (from 1)", .stored = "the data records the count record says",
      .computed = "the data records before it"}, 0},
    {check::srec_address, "srec-address",
     {.offset = "in the file", .index = "line (from 1)", .stored = "the record's address",
      .computed = "the first address it may take (records ascend without overlap, below 2^32 and the "
                  "image's end)"}, 8},
    {check::srec_end, "srec-end",
     {.offset = "in the file",
      .index = "line of the first record after the termination record (0: there is none)"}, 0},
    {check::read_error, "read-error", {.part = "what was being read", .offset = "how far it was read"}, 0},
}};

// The row of `what`.
constexpr const check_info& info_of(check what) { return check_table[static_cast<std::size_t>(what)]; }

namespace detail {
constexpr bool rows_in_order() {
    for (std::size_t i = 0; i < check_table.size(); ++i) {
        if (static_cast<std::size_t>(check_table[i].what) != i) return false;
    }
    return true;
}
}  // namespace detail
static_assert(detail::rows_in_order(), "check_table: each row sits at its check's index");

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
