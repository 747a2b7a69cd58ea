#pragma once
// Reading Intel HEX back into the image it holds, strictly: every record
// is checked (syntax, checksum, type, address) and the data come out in
// address order with the gaps filled with erased flash (0xFF), which is
// how velk's writer leaves out all-0xFF records. Nothing in the text is
// trusted: a line is never longer than the longest record, and the image
// never longer than the limit given, whatever the addresses say.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "formats/core/findings.hpp"
#include "formats/core/staged_image.hpp"
#include "io/file.hpp"

namespace velk {

struct intel_hex_read_options {
    // Address of the image's first byte; by default the start of the 64
    // KiB page of the first data record, since velk's writer leaves out
    // all-0xFF records, the first ones too, and flash images start on such
    // a page. An image at another address needs its base given.
    std::optional<std::uint32_t> base;
    // Longest image to decode, gaps included; a record beyond it is a
    // problem and its data are dropped.
    std::uint64_t max_length = std::uint64_t{1} << 32;
};

struct intel_hex_summary {
    std::uint64_t lines = 0;         // lines read
    std::uint64_t data_records = 0;  // data records whose data were taken
    std::optional<std::uint64_t> first_address;  // of the first data record
    std::optional<std::uint64_t> base;  // address of the image's first byte
    std::uint64_t length = 0;        // image bytes so far, gaps included
    bool end_record = false;         // the end-of-file record was seen
};

// The image held by the Intel HEX text `text`, from its first byte. Every
// fault found goes to `problems`; records that cannot be placed are left
// out. Reading it to its end checks the whole file.
class intel_hex_source final : public byte_source {
public:
    intel_hex_source(byte_source& text, problem_list& problems,
                     const intel_hex_read_options& options = {});

    std::size_t read(std::span<std::uint8_t> buf) override;
    bool error() const override { return text_.error(); }
    const intel_hex_summary& summary() const { return summary_; }

private:
    int get();
    bool read_line();      // false at the end of the text
    void take_line();      // parses the line read and stages its data, if any

    byte_source& text_;
    problem_list& problems_;
    intel_hex_read_options options_;
    intel_hex_summary summary_;

    std::vector<std::uint8_t> in_;  // text read ahead
    std::size_t in_pos_ = 0;
    std::size_t in_len_ = 0;
    bool text_ended_ = false;
    std::uint64_t text_offset_ = 0;  // of the next text byte

    std::vector<std::uint8_t> line_;  // the current line, without its line end
    bool line_too_long_ = false;
    std::uint64_t line_offset_ = 0;

    std::uint32_t upper_ = 0;        // address bits 16-31 from the last 04 record
    std::uint64_t next_address_ = 0;  // absolute address of the next image byte
    staged_image staged_;  // the image up to the last record read
    bool after_end_reported_ = false;
    bool finished_ = false;
};

// True when `head`, the first bytes of a file, begins with a well-formed
// Intel HEX record (right checksum, a known type) ended by a line end.
bool looks_like_intel_hex(std::span<const std::uint8_t> head);

}  // namespace velk
