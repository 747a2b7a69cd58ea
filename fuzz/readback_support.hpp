#pragma once
// What the read-back fuzz targets share: files in memory (memfd, so that
// the engine reads them through File as it reads any file), sinks into
// vectors, and a byte cursor over the fuzz input for the choices a target
// makes. Linux only, as libFuzzer is.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "io/file.hpp"

namespace velk::fuzz {

using Bytes = std::vector<std::uint8_t>;

// A read-only File holding `bytes`, from its first byte.
inline File memory_file(std::span<const std::uint8_t> bytes) {
    const int fd = memfd_create("velk-fuzz", 0);
    if (fd < 0) std::abort();
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) std::abort();
        done += static_cast<std::size_t>(n);
    }
    if (lseek(fd, 0, SEEK_SET) != 0) std::abort();
    std::FILE* stream = fdopen(fd, "rb");
    if (stream == nullptr) std::abort();
    return File::adopt(stream);
}

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
