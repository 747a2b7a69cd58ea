#pragma once
// Outputs that appear whole or not at all. A regular output (new, or an
// existing regular file) is written to a temporary file in its own
// directory and renamed over its final name only when every byte was
// written and the file closed; until then, and after any failure, the
// final name shows what it showed before. A name that is a symbolic link
// is followed: the file it points to is replaced and the link stays. An
// existing output that is not a regular file (a device, a FIFO) cannot be
// replaced that way and is written in place.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "io/file.hpp"

namespace velk {

// An output is a sink: written in order, or, while nothing has been
// written and when it goes to a temporary file of its own, by offset
// (positional()), so that a writer can fill it in pieces from several
// threads. Either way it counts the bytes it will hold.
class Output final : public byte_sink {
public:
    // Prepares the output `name`: the temporary file, or the device opened
    // for writing. Closed (false) on failure, with error() set.
    static Output create(const std::string& name);
    // Standard output, written in place.
    static Output standard_output();

    Output() = default;
    Output(Output&& other) noexcept;
    Output& operator=(Output&& other) noexcept;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    // An output that was not committed is discarded: its temporary is removed.
    ~Output();

    explicit operator bool() const { return static_cast<bool>(file_); }
    File& file() { return file_; }
    const File& file() const { return file_; }
    const std::string& name() const { return name_; }

    // The file as written so far, moved to its first byte, so that it can
    // be read back and checked before commit() puts it in place; null when
    // it cannot be read back (standard output, or a device that cannot
    // seek). Data buffered by a writer must be flushed first.
    File* read_back();

    bool write(std::span<const std::uint8_t> bytes) override;
    int error_number() const override { return file_.last_error(); }
    random_sink* positional() override;

    // The bytes the output holds: written in order, or up to the furthest
    // end of the positional writes.
    std::uint64_t bytes() const { return in_order_ + by_offset_.end(); }

    // Closes the file and, for a temporary, renames it into place. False
    // when the close or the rename failed (then nothing is left under a
    // temporary name either); error() tells why.
    bool commit();
    // Closes and removes the temporary without touching the final name.
    void discard();

    int error() const { return error_; }

private:
    // The file written by offset, noting how far the writes reach.
    class offset_writer final : public random_sink {
    public:
        explicit offset_writer(File& file) : file_(&file) {}
        status write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
        std::uint64_t end() const { return end_.load(std::memory_order_relaxed); }
        void rebind(File& file) { file_ = &file; }

    private:
        File* file_;
        std::atomic<std::uint64_t> end_{0};
    };

    std::string name_;       // the name as given
    std::string target_;     // the file the name leads to, links followed
    std::string temporary_;  // empty when written in place
    File file_;
    int error_ = 0;
    std::uint64_t in_order_ = 0;
    offset_writer by_offset_{file_};
};

}  // namespace velk
