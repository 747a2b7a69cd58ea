#pragma once
// Comparing what an image holds with what it should hold, as both stream
// past: the first difference, and how many bytes differ (bytes one side
// has and the other lacks count too).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "io/file.hpp"

namespace velk {

struct comparison {
    std::uint64_t actual_length = 0;    // bytes written to the comparer
    std::uint64_t expected_length = 0;  // bytes the expected side had
    std::optional<std::uint64_t> first;  // offset of the first difference
    // The bytes there; `ended` where that side had no byte left.
    static constexpr std::uint16_t ended = 0x100;
    std::uint16_t first_actual = 0;
    std::uint16_t first_expected = 0;
    std::uint64_t differing = 0;        // bytes that differ, either side's extra bytes included
    bool read_failed = false;           // the expected side could not be read

    bool equal() const { return !first && !read_failed; }
};

// A sink that compares the bytes written to it with the bytes `expected`
// reads, at most `expected_limit` of them.
class stream_comparer final : public byte_sink {
public:
    explicit stream_comparer(byte_source& expected, std::uint64_t expected_limit = UINT64_MAX);

    bool write(std::span<const std::uint8_t> bytes) override;
    // Reads what the expected side has left, which counts as differing.
    comparison finish();

private:
    void note(std::uint64_t at, std::uint16_t actual, std::uint16_t expected);

    byte_source& expected_;
    std::uint64_t limit_;
    bool expected_ended_ = false;
    std::vector<std::uint8_t> buffer_;
    comparison result_;
};

// The bytes of `inner` followed by 0xFF up to the next multiple of `unit`
// (nothing after an empty source): a raw image as its flash CRC image's
// blocks hold it.
class erased_to_multiple final : public byte_source {
public:
    erased_to_multiple(byte_source& inner, std::uint64_t unit) : inner_(inner), unit_(unit) {}
    std::size_t read(std::span<std::uint8_t> buf) override;
    bool error() const override { return inner_.error(); }

private:
    byte_source& inner_;
    std::uint64_t unit_;
    std::uint64_t length_ = 0;
    bool inner_ended_ = false;
};

}  // namespace velk
