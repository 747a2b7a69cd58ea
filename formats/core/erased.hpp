#pragma once
// Erased flash reads as 0xFF, so every format fills with it and every
// reader asks whether a run of bytes is still all erased.

#include <algorithm>
#include <cstdint>
#include <span>

namespace velk {

inline constexpr std::uint8_t erased_byte = 0xFF;

// True when every byte of `bytes` is 0xFF (so also when there are none).
inline bool all_erased(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == erased_byte; });
}

}  // namespace velk
