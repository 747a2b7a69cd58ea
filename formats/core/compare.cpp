#include "formats/core/compare.hpp"

#include <algorithm>

namespace velk {

stream_comparer::stream_comparer(byte_source& expected, std::uint64_t expected_limit)
    : expected_(expected), limit_(expected_limit), buffer_(std::size_t{1} << 16) {}

void stream_comparer::note(std::uint64_t at, std::uint16_t actual, std::uint16_t expected) {
    if (!result_.first) {
        result_.first = at;
        result_.first_actual = actual;
        result_.first_expected = expected;
    }
}

bool stream_comparer::write(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        std::size_t got = 0;
        if (!expected_ended_) {
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(
                {bytes.size(), buffer_.size(), limit_ - result_.expected_length}));
            got = want == 0 ? 0 : expected_.read(std::span(buffer_.data(), want));
            if (got < want || want == 0) {
                expected_ended_ = true;
                if (expected_.error() && want != 0) result_.read_failed = true;
            }
        }
        const std::uint64_t at = result_.actual_length;
        if (got == 0) {
            // The expected side has ended: every byte left is extra.
            note(at, bytes[0], comparison::ended);
            result_.differing += bytes.size();
            result_.actual_length += bytes.size();
            return true;
        }
        if (!std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(got), buffer_.begin())) {
            for (std::size_t i = 0; i < got; ++i) {
                if (bytes[i] == buffer_[i]) continue;
                note(at + i, bytes[i], buffer_[i]);
                ++result_.differing;
            }
        }
        result_.actual_length += got;
        result_.expected_length += got;
        bytes = bytes.subspan(got);
    }
    return true;
}

comparison stream_comparer::finish() {
    while (!expected_ended_) {
        const auto want = static_cast<std::size_t>(
            std::min<std::uint64_t>(buffer_.size(), limit_ - result_.expected_length));
        const std::size_t got = want == 0 ? 0 : expected_.read(std::span(buffer_.data(), want));
        if (got != 0) {
            note(result_.actual_length, comparison::ended, buffer_[0]);
            result_.differing += got;
            result_.expected_length += got;
        }
        if (got < want || want == 0) {
            expected_ended_ = true;
            if (expected_.error() && want != 0) result_.read_failed = true;
        }
    }
    return result_;
}

std::size_t erased_to_multiple::read(std::span<std::uint8_t> buf) {
    std::size_t done = 0;
    if (!inner_ended_) {
        done = inner_.read(buf);
        length_ += done;
        if (done < buf.size()) inner_ended_ = true;
    }
    if (inner_ended_ && unit_ != 0) {
        const std::uint64_t due = (unit_ - length_ % unit_) % unit_;
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(due, buf.size() - done));
        std::fill_n(buf.data() + done, n, std::uint8_t{0xFF});
        done += n;
        length_ += n;
    }
    return done;
}

}  // namespace velk
