#pragma once
// Where bytes come from and go to, by what they can do. Every source reads
// in order and every sink writes in order; some also read or write at any
// offset, from several threads at once, and say so through positional().
// A writer asks its source and sinks what they can do and picks its own
// way: converting in pieces on several cores when both sides are
// positional, streaming otherwise. Files and memory implement both, so the
// engine is tested and fuzzed in memory and run on files.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "io/fault.hpp"

namespace velk {

// Read at any offset. Safe from several threads at once.
class random_source {
public:
    virtual ~random_source() = default;
    // The bytes the source holds, known before the first is read.
    virtual std::uint64_t size() const = 0;
    // Exactly buf.size() bytes from `offset`, or a read fault (error 0 when
    // the data ended first). The fault's role is left for the caller.
    virtual status read_at(std::uint64_t offset, std::span<std::uint8_t> buf) const = 0;
};

// Written at any offset. Safe from several threads at once, each writing
// its own range.
class random_sink {
public:
    virtual ~random_sink() = default;
    virtual status write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) = 0;
};

// Where written bytes go: a file, memory, or a stage that transforms them
// on their way to one. True when every byte was taken; a sink that fails
// keeps failing, and error() gives the system's reason.
class byte_sink {
public:
    virtual ~byte_sink() = default;
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
    // The system's error number of the failure, 0 when there was none
    // or the system gave none.
    virtual int error_number() const { return 0; }
    // The same sink written by offset, while nothing has been written in
    // order: a writer that takes it writes every byte of its output that
    // way, from offset 0, and nothing in order. Null when the sink cannot
    // (a pipe, a terminal, a device, a stage that transforms).
    virtual random_sink* positional() { return nullptr; }
};

// Where read bytes come from: a file, memory, or a stage that decodes them
// from one on the way.
class byte_source {
public:
    virtual ~byte_source() = default;
    // Up to buf.size() bytes; a short count means the end of the data or a
    // read error, which error() tells apart.
    virtual std::size_t read(std::span<std::uint8_t> buf) = 0;
    virtual bool error() const = 0;
    virtual int error_number() const { return 0; }
    // The same source read by offset, with its size known, while nothing
    // has been read in order; null when it cannot be (a pipe, a stage).
    virtual const random_source* positional() const { return nullptr; }
};

// A source read by offset, read in order from its first byte: for the
// readers that stream through what they check.
class source_reader final : public byte_source {
public:
    explicit source_reader(const random_source& source) : source_(source) {}
    // Up to buf.size() bytes; short at the end, or on a read error.
    std::size_t read(std::span<std::uint8_t> buf) override;
    bool error() const override { return error_ != 0; }
    int error_number() const override { return error_; }
    const random_source* positional() const override { return at_ == 0 ? &source_ : nullptr; }

private:
    const random_source& source_;
    std::uint64_t at_ = 0;
    int error_ = 0;
};

// A sink written by offset, written in order from a start: for a writer
// that fills most of an output in order and comes back for a few bytes
// (headers known last) by offset.
class ordered_writes final : public byte_sink {
public:
    explicit ordered_writes(random_sink& sink, std::uint64_t start = 0) : sink_(sink), at_(start) {}
    bool write(std::span<const std::uint8_t> bytes) override;
    int error_number() const override { return error_; }
    std::uint64_t position() const { return at_; }

private:
    random_sink& sink_;
    std::uint64_t at_;
    int error_ = 0;
};

// Room to set bytes aside and read them back: written by offset, then
// read by offset. Decoders of text inputs keep what they decoded here
// instead of in memory; a file implements it (scratch_file, io/file.hpp),
// and memory for tests (memory_scratch).
class scratch : public random_sink, public random_source {};

class memory_scratch final : public scratch {
public:
    status write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    std::uint64_t size() const override { return bytes_.size(); }
    status read_at(std::uint64_t offset, std::span<std::uint8_t> buf) const override;

private:
    std::vector<std::uint8_t> bytes_;
};

// Bytes in memory, read either way.
class memory_source final : public byte_source, public random_source {
public:
    explicit memory_source(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t read(std::span<std::uint8_t> buf) override;
    bool error() const override { return false; }
    const random_source* positional() const override { return position_ == 0 ? this : nullptr; }

    std::uint64_t size() const override { return bytes_.size(); }
    status read_at(std::uint64_t offset, std::span<std::uint8_t> buf) const override;

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

// Bytes collected in memory, written either way; for tests and fuzzing,
// and for small outputs that must be complete before they go anywhere.
// `limit` makes it fail like a full disk past that many bytes.
class memory_sink final : public byte_sink, public random_sink {
public:
    explicit memory_sink(std::uint64_t limit = UINT64_MAX, bool positional = true)
        : limit_(limit), positional_(positional) {}

    bool write(std::span<const std::uint8_t> bytes) override;
    int error_number() const override { return failed_ ? no_space : 0; }
    random_sink* positional() override { return positional_ && bytes_.empty() ? this : nullptr; }
    status write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    static constexpr int no_space = 28;  // ENOSPC on every system velk runs on
    std::mutex mutex_;
    std::vector<std::uint8_t> bytes_;
    std::uint64_t limit_;
    bool positional_;
    bool failed_ = false;
};

}  // namespace velk
