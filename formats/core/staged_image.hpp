#pragma once
// The image a text of records spells, handed out in order as its records
// are read: each record's data staged behind the erased bytes (0xFF) of
// the gap before it. Shared by the readers of every record encoding.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "formats/core/erased.hpp"

namespace velk {

class staged_image {
public:
    staged_image() { data_.reserve(255); }

    // Stages `data`, to come after `gap` erased bytes. What was staged
    // before must have been drained.
    void stage(std::uint64_t gap, std::span<const std::uint8_t> data) {
        gap_ = gap;
        data_.assign(data.begin(), data.end());
        at_ = 0;
    }

    // Copies what is staged into `buf`, as much as fits; returns how many
    // bytes that was.
    std::size_t drain(std::span<std::uint8_t> buf) {
        std::size_t done = 0;
        const auto gap = static_cast<std::size_t>(std::min<std::uint64_t>(gap_, buf.size()));
        std::fill_n(buf.data(), gap, erased_byte);
        gap_ -= gap;
        done += gap;
        const std::size_t n = std::min(data_.size() - at_, buf.size() - done);
        std::copy_n(data_.data() + at_, n, buf.data() + done);
        at_ += n;
        return done + n;
    }

private:
    std::uint64_t gap_ = 0;
    std::vector<std::uint8_t> data_;
    std::size_t at_ = 0;
};

}  // namespace velk
