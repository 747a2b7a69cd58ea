#pragma once
// Files as velk uses them: opened in binary mode, read and written in large
// blocks, and every failure reported to the caller. A write that fails, or a
// close that cannot flush what was buffered, must never pass as success.

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/access.hpp"
#include "io/fault.hpp"

namespace velk {

// An open file that is closed on every path. Move-only.
class File final : public byte_sink, public byte_source, public random_sink {
public:
    enum class Mode {
        read,    // existing file, read only ("rb")
        create,  // created or truncated, read and write ("wb+")
        update,  // existing file, read and write; never created ("rb+")
    };

    File() = default;
    // Opens the named file; the result is closed (false) when that fails,
    // and last_error() of the result holds the system's reason.
    static File open(const std::string& name, Mode mode);
    // Takes over an open stream, such as stdin or stdout; `unbuffered`
    // turns the C library's buffer off, as for every file velk opens.
    enum class Buffering { off, keep };
    static File adopt(std::FILE* stream, Buffering buffering = Buffering::off);
    // A file with no name, for reading and writing, gone when closed: a
    // spool for data that must be measured before they are used. Closed
    // (false) on failure, with last_error() set.
    static File anonymous();
    // Lets go of the stream without closing it (for standard streams).
    void release() { stream_ = nullptr; }

    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() override;

    explicit operator bool() const { return stream_ != nullptr; }

    // Reads until buf is full or the file ends. A short count means end of
    // file or a read error; error() tells the two apart.
    std::size_t read(std::span<std::uint8_t> buf) override;
    bool error() const override;

    // True when every byte was handed to the system or its buffer.
    bool write(std::span<const std::uint8_t> bytes) override;
    bool write(std::string_view text);

    // Moves to an absolute offset; the next read or write starts there.
    bool seek(std::uint64_t offset);
    bool seek_end();

    // Length of the open file, or nothing when it cannot be told.
    std::optional<std::uint64_t> size();

    // Flushes and closes. False when buffered data could not be written or
    // an earlier write failed. Closing a closed file returns true.
    bool close();

    // The system's error number (errno) of the last operation that failed,
    // 0 when none has; for messages such as strerror's.
    int last_error() const { return last_error_; }
    int error_number() const override { return last_error_; }

    // Positional reads and writes: at an absolute offset, and safe from
    // several threads on one File at once. They touch no state of the File
    // (a failure is returned, never recorded) and leave the position alone,
    // unless made from several threads at once (see stream_read_at).
    // A read that comes up short is a fault with error 0 (the file ended).
    status read_at(std::uint64_t offset, std::span<std::uint8_t> buf) const;
    status write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;

private:
    explicit File(std::FILE* stream) : stream_(stream) {}
    bool failed();  // records errno, returns false
    std::FILE* stream_ = nullptr;
    int last_error_ = 0;
};

// A regular file of known size, read in order from where it stands or,
// before that, by offset from any thread: the input of a conversion that
// may run in pieces. The File must outlive it.
class file_source final : public byte_source, public random_source {
public:
    file_source(File& file, std::uint64_t size) : file_(file), size_(size) {}

    std::size_t read(std::span<std::uint8_t> buf) override;
    bool error() const override { return file_.error(); }
    int error_number() const override { return file_.last_error(); }
    const random_source* positional() const override { return started_ ? nullptr : this; }

    std::uint64_t size() const override { return size_; }
    status read_at(std::uint64_t offset, std::span<std::uint8_t> buf) const override {
        return file_.read_at(offset, buf);
    }

private:
    File& file_;
    std::uint64_t size_;
    bool started_ = false;
};

// Scratch space in a file with no name, gone when this is: what a decoder
// sets aside costs disk, not memory. The file is made at the first write,
// so scratch that is never used costs nothing; its size is how far it was
// written.
class scratch_file final : public scratch {
public:

    status write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    std::uint64_t size() const override { return size_; }
    status read_at(std::uint64_t offset, std::span<std::uint8_t> buf) const override {
        return file_.read_at(offset, buf);
    }

private:
    File file_;
    std::uint64_t size_ = 0;
};

// True when both names refer to the same file: the same name, or the same
// file on disk (device and inode, through links too).
bool same_file(const std::string& a, const std::string& b);

// Deletes a file by name; true when it is gone.
bool remove_file(const std::string& name);

// What a name refers to, links followed.
enum class path_kind { missing, regular, directory, other };
path_kind kind_of(const std::string& name);

// Sequential reader over a source in large blocks, for byte-at-a-time parsing.
class BlockReader {
public:
    explicit BlockReader(byte_source& source, std::size_t capacity = std::size_t{1} << 16);

    // The next byte, or -1 at end of file or after a read error.
    int get() {
        if (pos_ == len_ && !refill()) return -1;
        return buf_[pos_++];
    }
    // Up to out.size() bytes; short only at end of file or on an error.
    std::size_t read(std::span<std::uint8_t> out);
    bool error() const { return file_.error(); }

private:
    bool refill();
    byte_source& file_;
    std::vector<std::uint8_t> buf_;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
};

// Collects output and writes it in large blocks. After the first failed
// write every later call does nothing and ok() stays false. The default
// block is 1 MiB: a write call costs about as much as writing 16 KiB of
// data, a quarter extra on 64 KiB blocks and next to nothing on 1 MiB ones.
class BlockWriter {
public:
    explicit BlockWriter(byte_sink& sink, std::size_t capacity = std::size_t{1} << 20);
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    void put(std::uint8_t byte) {
        if (len_ == buf_.size()) flush();
        buf_[len_++] = byte;
    }
    void put(std::string_view text);
    void put(std::span<const std::uint8_t> bytes);
    void fill(std::uint8_t byte, std::uint64_t count);

    // Room for at least n bytes at the end of the buffer, to be committed
    // with commit(); n must not exceed the capacity.
    std::uint8_t* reserve(std::size_t n) {
        assert(n <= buf_.size());
        if (buf_.size() - len_ < n) flush();
        return buf_.data() + len_;
    }
    void commit(std::size_t n) { len_ += n; }
    // All the free room at the end of the buffer, never empty: a full
    // buffer is written first. Fill a prefix of it and commit() that.
    std::span<std::uint8_t> room() {
        if (len_ == buf_.size()) flush();
        return buf_.subspan(len_);
    }

    // Writes what is collected; false once any write has failed.
    bool flush();
    bool ok() const { return ok_; }
    // Every byte put so far, written or still collected.
    std::uint64_t total() const { return flushed_ + len_; }

private:
    byte_sink& sink_;
    // Left uninitialised: every byte is written before it is sent, and a
    // block of a megabyte need not be cleared first.
    std::unique_ptr<std::uint8_t[]> storage_;
    std::span<std::uint8_t> buf_;
    std::size_t len_ = 0;
    std::uint64_t flushed_ = 0;
    bool ok_ = true;
};

// Copies up to `limit` bytes from the current position of `from` into `to`
// and returns how many were copied; `observe` sees each piece on its way.
// The data are read straight into the writer's buffer.
// A short count means end of file or a read error (from.error()); write
// errors show in to.ok().
std::uint64_t copy_file_data(
    File& from, BlockWriter& to, std::uint64_t limit = UINT64_MAX,
    const std::function<void(std::span<const std::uint8_t>)>& observe = {});

}  // namespace velk
