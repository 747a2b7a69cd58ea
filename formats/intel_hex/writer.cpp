#include "formats/intel_hex/writer.hpp"

#include <algorithm>

#include "formats/core/erased.hpp"
#include "formats/core/hex.hpp"

namespace velk {
namespace {

constexpr std::uint8_t data_record = 0x00;
constexpr std::uint8_t end_of_file_record = 0x01;
constexpr std::uint8_t extended_linear_address_record = 0x04;

std::uint8_t* put_byte(std::uint8_t* at, std::uint8_t value) {
    at[0] = static_cast<std::uint8_t>(hex_digit_pairs[value][0]);
    at[1] = static_cast<std::uint8_t>(hex_digit_pairs[value][1]);
    return at + 2;
}

}  // namespace

bool fits_intel_hex(std::uint32_t base, std::uint64_t length) {
    return std::uint64_t{base} + length <= (std::uint64_t{1} << 32);
}

intel_hex_sink::intel_hex_sink(byte_sink& out, std::uint32_t base)
    : out_(out), next_address_(base) {}

bool intel_hex_sink::write(std::span<const std::uint8_t> bytes) {
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
    return out_.ok();
}

bool intel_hex_sink::finish() {
    const std::span<const std::uint8_t> partial(pending_.data(), pending_length_);
    if (holding_ && (!partial.empty() ? !all_erased(held_) : true)) {
        emit(held_, next_address_ - held_.size());
    }
    if (!partial.empty()) emit(partial, next_address_);
    emit_record(end_of_file_record, 0, {});
    return out_.flush();
}

// A record must not run past a 64 KiB boundary, where the reader's upper
// address changes; data that would are cut there.
void intel_hex_sink::emit(std::span<const std::uint8_t> data, std::uint64_t address) {
    while (!data.empty()) {
        const auto upper = static_cast<std::uint32_t>(address >> 16);
        if (upper != upper_) {
            const std::array<std::uint8_t, 2> field{static_cast<std::uint8_t>(upper >> 8),
                                                    static_cast<std::uint8_t>(upper)};
            emit_record(extended_linear_address_record, 0, field);
            upper_ = upper;
        }
        const std::uint64_t room = 0x10000 - (address & 0xFFFF);
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(data.size(), room));
        emit_record(data_record, static_cast<std::uint16_t>(address & 0xFFFF), data.first(n));
        data = data.subspan(n);
        address += n;
    }
}

void intel_hex_sink::emit_record(std::uint8_t type, std::uint16_t address,
                                 std::span<const std::uint8_t> data) {
    // ":", count, address, type, data, checksum, CR LF.
    std::uint8_t* const start = out_.reserve(1 + 2 * (4 + data.size() + 1) + 2);
    std::uint8_t* at = start;
    *at++ = ':';
    const auto count = static_cast<std::uint8_t>(data.size());
    const auto high = static_cast<std::uint8_t>(address >> 8);
    const auto low = static_cast<std::uint8_t>(address);
    unsigned sum = count + high + low + type;
    at = put_byte(at, count);
    at = put_byte(at, high);
    at = put_byte(at, low);
    at = put_byte(at, type);
    for (const std::uint8_t b : data) {
        at = put_byte(at, b);
        sum += b;
    }
    at = put_byte(at, static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
    *at++ = '\r';
    *at++ = '\n';
    out_.commit(static_cast<std::size_t>(at - start));
}

}  // namespace velk
