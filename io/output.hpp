#pragma once
// Outputs that appear whole or not at all. A regular output (new, or an
// existing regular file) is written to a temporary file in its own
// directory and renamed over its final name only when every byte was
// written and the file closed; until then, and after any failure, the
// final name shows what it showed before. A name that is a symbolic link
// is followed: the file it points to is replaced and the link stays. An
// existing output that is not a regular file (a device, a FIFO) cannot be
// replaced that way and is written in place.

#include <optional>
#include <string>

#include "io/file.hpp"

namespace velk {

class Output {
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

    // True when the output is written to a temporary file of its own (a
    // regular file, which positional writes can fill in any order); false
    // for standard output and for a device or FIFO written in place.
    bool in_temporary() const { return !temporary_.empty(); }

    // Closes the file and, for a temporary, renames it into place. False
    // when the close or the rename failed (then nothing is left under a
    // temporary name either); error() tells why.
    bool commit();
    // Closes and removes the temporary without touching the final name.
    void discard();

    int error() const { return error_; }

private:
    std::string name_;       // the name as given
    std::string target_;     // the file the name leads to, links followed
    std::string temporary_;  // empty when written in place
    File file_;
    int error_ = 0;
};

}  // namespace velk
