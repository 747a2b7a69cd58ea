#include "formats/srec/writer.hpp"

#include <algorithm>
#include <array>
#include <cassert>

#include "formats/core/erased.hpp"
#include "formats/core/hex.hpp"

namespace velk {
namespace {

// Records collected before they go to the sink in one write.
constexpr std::size_t flush_at = std::size_t{1} << 16;

void put_byte(std::vector<std::uint8_t>& text, std::uint8_t value) {
    const std::array<char, 2>& pair = hex_digit_pairs[value];
    text.push_back(static_cast<std::uint8_t>(pair[0]));
    text.push_back(static_cast<std::uint8_t>(pair[1]));
}

}  // namespace

bool fits_srec(std::uint32_t base, std::uint64_t length) {
    return std::uint64_t{base} + length <= (std::uint64_t{1} << 32);
}

srec_sink::srec_sink(byte_sink& out, std::uint32_t base, std::optional<std::uint32_t> start,
                     std::string_view header)
    : out_(out), next_address_(base), start_(start.value_or(base)) {
    assert(header.size() <= 250);
    const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(header.data()),
                                             header.size());
    emit_record('0', 0, 2, data);
}

bool srec_sink::write(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const std::size_t n = std::min(bytes.size(), pending_.size() - pending_length_);
        std::copy_n(bytes.data(), n, pending_.data() + pending_length_);
        pending_length_ += n;
        bytes = bytes.subspan(n);
        if (pending_length_ < pending_.size()) break;
        if (holding_ && !all_erased(held_)) emit(held_, next_address_ - held_.size());
        held_ = pending_;
        holding_ = true;
        pending_length_ = 0;
        next_address_ += pending_.size();
    }
    if (text_.size() >= flush_at) flush();
    return ok_;
}

bool srec_sink::finish() {
    const std::span<const std::uint8_t> partial(pending_.data(), pending_length_);
    if (holding_ && (!partial.empty() ? !all_erased(held_) : true)) {
        emit(held_, next_address_ - held_.size());
    }
    if (!partial.empty()) emit(partial, next_address_);
    emit_record('7', start_, 4, {});
    return flush();
}

void srec_sink::emit(std::span<const std::uint8_t> data, std::uint64_t address) {
    emit_record('3', static_cast<std::uint32_t>(address), 4, data);
}

void srec_sink::emit_record(char type, std::uint32_t address, std::size_t address_bytes,
                            std::span<const std::uint8_t> data) {
    // "S", type, count, address, data, checksum, CR LF; the count takes in
    // the address, the data and the checksum, and the checksum is the
    // complement of the sum of all the bytes before it.
    text_.push_back('S');
    text_.push_back(static_cast<std::uint8_t>(type));
    const auto count = static_cast<std::uint8_t>(address_bytes + data.size() + 1);
    put_byte(text_, count);
    unsigned sum = count;
    for (std::size_t i = address_bytes; i-- > 0;) {
        const auto b = static_cast<std::uint8_t>(address >> (8 * i));
        put_byte(text_, b);
        sum += b;
    }
    for (const std::uint8_t b : data) {
        put_byte(text_, b);
        sum += b;
    }
    put_byte(text_, static_cast<std::uint8_t>(~sum));
    text_.push_back('\r');
    text_.push_back('\n');
}

bool srec_sink::flush() {
    if (ok_ && !text_.empty()) ok_ = out_.write(text_);
    text_.clear();
    return ok_;
}

}  // namespace velk
