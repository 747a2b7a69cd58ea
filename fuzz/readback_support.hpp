#pragma once
// What the read-back fuzz targets share: sinks into vectors, and a byte
// cursor over the fuzz input for the choices a target makes. The engine
// reads memory through memory_source (io/access.hpp), as it reads files.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "io/access.hpp"
#include "io/file.hpp"

namespace velk::fuzz {

using Bytes = std::vector<std::uint8_t>;

class vector_sink final : public byte_sink {
public:
    bool write(std::span<const std::uint8_t> bytes) override {
        data.insert(data.end(), bytes.begin(), bytes.end());
        return true;
    }
    Bytes data;
};

// The fuzz input taken a piece at a time: numbers first, then the rest.
class cursor {
public:
    cursor(const std::uint8_t* data, std::size_t size) : at_(data), end_(data + size) {}
    std::uint8_t byte() { return at_ == end_ ? 0 : *at_++; }
    std::uint32_t word() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | byte();
        return v;
    }
    std::span<const std::uint8_t> take(std::size_t n) {
        const std::size_t k = std::min<std::size_t>(n, static_cast<std::size_t>(end_ - at_));
        const std::span<const std::uint8_t> piece(at_, k);
        at_ += k;
        return piece;
    }
    std::span<const std::uint8_t> rest() { return take(static_cast<std::size_t>(end_ - at_)); }

private:
    const std::uint8_t* at_;
    const std::uint8_t* end_;
};

inline void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace velk::fuzz
