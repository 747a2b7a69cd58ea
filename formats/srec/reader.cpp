#include "formats/srec/reader.hpp"

#include <algorithm>
#include <array>

#include "formats/core/hex.hpp"

namespace velk {
namespace {

// 'S', the type, then the digits of count, address, data and checksum:
// 255 bytes at most after the count.
constexpr std::size_t longest_line = 2 + 2 * (1 + 255);

// The address bytes of each type, S0 to S9; S4 is no type, and is read as
// one without an address only to be reported as such.
constexpr std::array<std::size_t, 10> address_bytes{2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

bool is_data(int type) { return type >= 1 && type <= 3; }
bool is_count(int type) { return type == 5 || type == 6; }
bool is_termination(int type) { return type >= 7; }

struct record {
    int type = 0;
    std::uint64_t address = 0;
    std::array<std::uint8_t, 255> data{};
    std::size_t length = 0;  // data bytes
    std::uint8_t checksum = 0;
    std::uint8_t expected_checksum = 0;  // the complement of the sum of the bytes before it
};

// The record spelt by one line (without its line end), or nothing when the
// line is not one.
std::optional<record> parse_record(std::span<const std::uint8_t> line) {
    if (line.size() < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9' || line.size() % 2 != 0) {
        return std::nullopt;
    }
    const std::size_t bytes = (line.size() - 2) / 2;
    std::array<std::uint8_t, 256> b{};
    if (bytes > b.size()) return std::nullopt;
    for (std::size_t i = 0; i < bytes; ++i) {
        const int high = hex_digit_of(line[2 + 2 * i]);
        const int low = hex_digit_of(line[3 + 2 * i]);
        if (high < 0 || low < 0) return std::nullopt;
        b[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    record r;
    r.type = line[1] - '0';
    const std::size_t address_length = address_bytes[static_cast<std::size_t>(r.type)];
    if (bytes != std::size_t{1} + b[0] || bytes < 1 + address_length + 1) return std::nullopt;
    for (std::size_t i = 0; i < address_length; ++i) r.address = r.address << 8 | b[1 + i];
    r.length = bytes - 2 - address_length;
    std::copy_n(b.begin() + static_cast<std::ptrdiff_t>(1 + address_length), r.length, r.data.begin());
    r.checksum = b[bytes - 1];
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < bytes; ++i) sum += b[i];
    r.expected_checksum = static_cast<std::uint8_t>(~sum & 0xFF);
    return r;
}

}  // namespace

srec_source::srec_source(byte_source& text, problem_list& problems, const srec_read_options& options)
    : text_(text), problems_(problems), options_(options), in_(std::size_t{1} << 16) {
    line_.reserve(longest_line);
}

int srec_source::get() {
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

bool srec_source::read_line() {
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

void srec_source::fault(check what, std::uint64_t stored, std::uint64_t computed) {
    problem p;
    p.what = what;
    p.index = summary_.lines;
    p.offset = line_offset_;
    p.stored = stored;
    p.computed = computed;
    problems_.add(p);
}

void srec_source::take_line() {
    const std::optional<record> r =
        line_too_long_ ? std::nullopt : parse_record(std::span<const std::uint8_t>(line_));
    if (!r) return fault(check::srec_syntax);
    if (summary_.end_record) {
        if (!after_end_reported_) fault(check::srec_end);
        after_end_reported_ = true;
        return;
    }
    if (r->checksum != r->expected_checksum) fault(check::srec_checksum, r->checksum, r->expected_checksum);
    if (r->type == 4) return fault(check::srec_record_type, 4);
    const std::span<const std::uint8_t> data(r->data.data(), r->length);
    if (r->type != 0 && !is_data(r->type) && !data.empty()) return fault(check::srec_syntax);
    if (is_data(r->type)) {
        ++records_seen_;
        place(r->address, data);
    } else if (is_count(r->type) && r->address != records_seen_) {
        fault(check::srec_count, r->address, records_seen_);
    } else if (is_termination(r->type)) {
        summary_.start = r->address;
        summary_.end_record = true;
    }
}

void srec_source::place(std::uint64_t address, std::span<const std::uint8_t> data) {
    // A record without data holds no byte of the image, wherever it says.
    if (data.empty()) return;
    if (!summary_.first_address) summary_.first_address = address;
    if (!summary_.base) {
        summary_.base = options_.base ? *options_.base : address & ~std::uint64_t{0xFFFF};
        next_address_ = *summary_.base;
    }
    const std::uint64_t base = *summary_.base;
    const std::uint64_t end = address + data.size();
    const bool placed = address >= next_address_ && end <= (std::uint64_t{1} << 32) &&
                        end - base <= options_.max_length;
    if (!placed) return fault(check::srec_address, address, next_address_);
    staged_.stage(address - next_address_, data);
    next_address_ = end;
    summary_.length = end - base;
    ++summary_.data_records;
}

std::size_t srec_source::read(std::span<std::uint8_t> buf) {
    std::size_t done = 0;
    while (done < buf.size()) {
        done += staged_.drain(buf.subspan(done));
        if (done == buf.size()) break;
        if (finished_) break;
        if (!read_line()) {
            finished_ = true;
            if (!summary_.end_record && !text_.error()) {
                problem p;
                p.what = check::srec_end;
                p.offset = text_offset_;
                problems_.add(p);
            }
            break;
        }
        take_line();
    }
    return done;
}

bool looks_like_srec_image(std::span<const std::uint8_t> head) {
    const auto end = std::find(head.begin(), head.end(), std::uint8_t{'\n'});
    if (end == head.end()) return false;
    std::span<const std::uint8_t> line(head.begin(), end);
    if (!line.empty() && line.back() == '\r') line = line.first(line.size() - 1);
    if (line.size() > longest_line) return false;
    const std::optional<record> r = parse_record(line);
    return r && r->checksum == r->expected_checksum && r->type != 4;
}

}  // namespace velk
