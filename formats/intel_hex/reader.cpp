#include "formats/intel_hex/reader.hpp"

#include <algorithm>
#include <array>

#include "formats/core/hex.hpp"

namespace velk {
namespace {

constexpr std::uint8_t data_record = 0x00;
constexpr std::uint8_t end_of_file_record = 0x01;
constexpr std::uint8_t extended_linear_address_record = 0x04;

// ":" and the digits of count, address, type, 255 data bytes and checksum.
constexpr std::size_t longest_line = 1 + 2 * (1 + 2 + 1 + 255 + 1);

int digit(std::uint8_t c) { return hex_digit_of(c); }

struct record {
    std::uint8_t count = 0;
    std::uint16_t address = 0;
    std::uint8_t type = 0;
    std::array<std::uint8_t, 255> data{};
    std::uint8_t checksum = 0;
    std::uint8_t expected_checksum = 0;  // what makes all the bytes sum to 0
};

// The record spelt by one line (without its line end), or nothing when the
// line is not one.
std::optional<record> parse_record(std::span<const std::uint8_t> line) {
    if (line.size() < 11 || line[0] != ':' || (line.size() - 1) % 2 != 0) return std::nullopt;
    const std::size_t bytes = (line.size() - 1) / 2;
    std::array<std::uint8_t, 260> b{};
    if (bytes > b.size()) return std::nullopt;
    for (std::size_t i = 0; i < bytes; ++i) {
        const int high = digit(line[1 + 2 * i]);
        const int low = digit(line[2 + 2 * i]);
        if (high < 0 || low < 0) return std::nullopt;
        b[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    record r;
    r.count = b[0];
    if (bytes != std::size_t{5} + r.count) return std::nullopt;
    r.address = static_cast<std::uint16_t>(b[1] << 8 | b[2]);
    r.type = b[3];
    std::copy_n(b.begin() + 4, r.count, r.data.begin());
    r.checksum = b[4 + r.count];
    unsigned sum = 0;
    for (std::size_t i = 0; i < bytes - 1; ++i) sum += b[i];
    r.expected_checksum = static_cast<std::uint8_t>((0x100 - (sum & 0xFF)) & 0xFF);
    return r;
}

}  // namespace

intel_hex_source::intel_hex_source(byte_source& text, problem_list& problems,
                                   const intel_hex_read_options& options)
    : text_(text), problems_(problems), options_(options), in_(std::size_t{1} << 16) {
    line_.reserve(longest_line);
}

int intel_hex_source::get() {
    if (in_pos_ == in_len_) {
        if (text_ended_) return -1;
        in_pos_ = 0;
        in_len_ = text_.read(in_);
        if (in_len_ == 0) {
            text_ended_ = true;
            return -1;
        }
    }
    ++text_offset_;
    return in_[in_pos_++];
}

bool intel_hex_source::read_line() {
    line_.clear();
    line_too_long_ = false;
    line_offset_ = text_offset_;
    int c = get();
    if (c < 0) return false;
    for (; c >= 0 && c != '\n'; c = get()) {
        if (line_.size() <= longest_line) line_.push_back(static_cast<std::uint8_t>(c));
        else line_too_long_ = true;
    }
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    ++summary_.lines;
    return true;
}

void intel_hex_source::take_line() {
    const std::uint64_t line_number = summary_.lines;
    const auto fault = [&](check what, std::uint64_t stored = 0, std::uint64_t computed = 0) {
        problem p;
        p.what = what;
        p.index = line_number;
        p.offset = line_offset_;
        p.stored = stored;
        p.computed = computed;
        problems_.add(p);
    };
    const std::optional<record> r =
        line_too_long_ ? std::nullopt : parse_record(std::span<const std::uint8_t>(line_));
    if (!r) return fault(check::hex_syntax);
    if (summary_.end_record) {
        if (!after_end_reported_) {
            problem p;
            p.what = check::hex_end;
            p.index = line_number;
            p.offset = line_offset_;
            problems_.add(p);
            after_end_reported_ = true;
        }
        return;
    }
    if (r->checksum != r->expected_checksum) fault(check::hex_checksum, r->checksum, r->expected_checksum);
    switch (r->type) {
        case end_of_file_record:
            if (r->count != 0) return fault(check::hex_syntax);
            summary_.end_record = true;
            return;
        case extended_linear_address_record:
            if (r->count != 2) return fault(check::hex_syntax);
            upper_ = static_cast<std::uint32_t>(r->data[0] << 8 | r->data[1]);
            return;
        case data_record:
            break;
        default:
            return fault(check::hex_record_type, r->type);
    }
    const std::uint64_t address = std::uint64_t{upper_} << 16 | r->address;
    if (!summary_.first_address) summary_.first_address = address;
    if (!summary_.base) {
        summary_.base = options_.base ? *options_.base : address & ~std::uint64_t{0xFFFF};
        next_address_ = *summary_.base;
    }
    const std::uint64_t base = *summary_.base;
    const bool in_page = std::uint64_t{r->address} + r->count <= 0x10000;
    const bool in_order = address >= next_address_;
    const bool in_limit = address + r->count - base <= options_.max_length;
    if (!in_page || !in_order || !in_limit) return fault(check::hex_address, address, next_address_);
    staged_.stage(address - next_address_, std::span(r->data).first(r->count));
    next_address_ = address + r->count;
    summary_.length = next_address_ - base;
    ++summary_.data_records;
}

std::size_t intel_hex_source::read(std::span<std::uint8_t> buf) {
    std::size_t done = 0;
    while (done < buf.size()) {
        done += staged_.drain(buf.subspan(done));
        if (done == buf.size()) break;
        if (finished_) break;
        if (!read_line()) {
            finished_ = true;
            if (!summary_.end_record && !text_.error()) {
                problem p;
                p.what = check::hex_end;
                p.offset = text_offset_;
                problems_.add(p);
            }
            break;
        }
        take_line();
    }
    return done;
}

bool looks_like_intel_hex(std::span<const std::uint8_t> head) {
    const auto end = std::find(head.begin(), head.end(), std::uint8_t{'\n'});
    if (end == head.end()) return false;
    std::span<const std::uint8_t> line(head.begin(), end);
    if (!line.empty() && line.back() == '\r') line = line.first(line.size() - 1);
    const std::optional<record> r = parse_record(line);
    return r && r->checksum == r->expected_checksum &&
           (r->type == data_record || r->type == end_of_file_record ||
            r->type == extended_linear_address_record);
}

}  // namespace velk
