#include "io/file.hpp"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

#include "io/platform.hpp"

namespace velk {

File File::open(const std::string& name, Mode mode) {
    const char* how = "rb";
    if (mode == Mode::create) how = "wb+";
    if (mode == Mode::update) how = "rb+";
    errno = 0;
    std::FILE* stream = std::fopen(name.c_str(), how);
    if (stream == nullptr) {
        File closed;
        closed.last_error_ = errno;
        return closed;
    }
    return adopt(stream);
}

File File::anonymous() {
    errno = 0;
    std::FILE* stream = std::tmpfile();
    if (stream == nullptr) {
        File closed;
        closed.last_error_ = errno != 0 ? errno : EIO;
        return closed;
    }
    return adopt(stream);
}

File File::adopt(std::FILE* stream, Buffering buffering) {
    // Callers buffer in large blocks themselves (BlockReader, BlockWriter);
    // a second buffer here would only let a failed write surface later, at
    // a point where it can no longer be told which data it hit.
    if (stream != nullptr && buffering == Buffering::off) std::setvbuf(stream, nullptr, _IONBF, 0);
    return File(stream);
}

File::File(File&& other) noexcept
    : stream_(std::exchange(other.stream_, nullptr)), last_error_(other.last_error_) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        stream_ = std::exchange(other.stream_, nullptr);
        last_error_ = other.last_error_;
    }
    return *this;
}

bool File::failed() {
    if (errno != 0) last_error_ = errno;
    else if (last_error_ == 0) last_error_ = EIO;
    return false;
}

File::~File() { close(); }

std::size_t File::read(std::span<std::uint8_t> buf) {
    if (stream_ == nullptr) return 0;
    std::size_t got = 0;
    errno = 0;
    while (got < buf.size()) {
        const std::size_t n = std::fread(buf.data() + got, 1, buf.size() - got, stream_);
        got += n;
        if (n == 0) break;
    }
    if (got < buf.size() && std::ferror(stream_) != 0) failed();
    return got;
}

bool File::error() const { return stream_ == nullptr || std::ferror(stream_) != 0; }

bool File::write(std::span<const std::uint8_t> bytes) {
    if (stream_ == nullptr) return false;
    if (bytes.empty()) return true;
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size()) return failed();
    return true;
}

bool File::write(std::string_view text) {
    return write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

status File::read_at(std::uint64_t offset, std::span<std::uint8_t> buf) const {
    if (stream_ == nullptr) return read_fault(role::none, EBADF, offset);
    int error = 0;
    const std::size_t got = stream_read_at(stream_, offset, buf, error);
    if (got != buf.size()) return read_fault(role::none, error, offset + got);
    return {};
}

status File::write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (stream_ == nullptr) return write_fault(role::none, EBADF, offset);
    int error = 0;
    if (!stream_write_at(stream_, offset, bytes, error)) return write_fault(role::none, error, offset);
    return {};
}

status scratch_file::write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (!file_) {
        file_ = File::anonymous();
        if (!file_) return write_fault(role::none, file_.last_error(), offset);
    }
    status s = file_.write_at(offset, bytes);
    if (s) size_ = std::max<std::uint64_t>(size_, offset + bytes.size());
    return s;
}

std::size_t file_source::read(std::span<std::uint8_t> buf) {
    started_ = true;
    return file_.read(buf);
}

bool File::seek(std::uint64_t offset) {
    return stream_ != nullptr && stream_seek(stream_, offset);
}

bool File::seek_end() { return stream_ != nullptr && std::fseek(stream_, 0, SEEK_END) == 0; }

std::optional<std::uint64_t> File::size() {
    if (stream_ == nullptr) return std::nullopt;
    // Data still in the write buffer belongs to the file's length.
    if (std::fflush(stream_) != 0) return std::nullopt;
    return stream_size(stream_);
}

bool File::close() {
    if (stream_ == nullptr) return true;
    const bool had_error = std::ferror(stream_) != 0;
    errno = 0;
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!closed) failed();
    return closed && !had_error;
}


bool same_file(const std::string& a, const std::string& b) {
    if (a == b) return true;
    std::error_code ec;
    return std::filesystem::equivalent(path_from_utf8(a), path_from_utf8(b), ec) && !ec;
}

bool remove_file(const std::string& name) { return std::remove(name.c_str()) == 0; }

path_kind kind_of(const std::string& name) {
    std::error_code ec;
    const std::filesystem::file_status found = std::filesystem::status(path_from_utf8(name), ec);
    switch (found.type()) {
        case std::filesystem::file_type::not_found:
        case std::filesystem::file_type::none:
            return path_kind::missing;
        case std::filesystem::file_type::regular:
            return path_kind::regular;
        case std::filesystem::file_type::directory:
            return path_kind::directory;
        default:
            return path_kind::other;
    }
}

BlockReader::BlockReader(byte_source& source, std::size_t capacity) : file_(source), buf_(capacity) {}

bool BlockReader::refill() {
    pos_ = 0;
    len_ = file_.read(buf_);
    return len_ != 0;
}

std::size_t BlockReader::read(std::span<std::uint8_t> out) {
    std::size_t got = 0;
    while (got < out.size()) {
        if (pos_ == len_ && !refill()) break;
        const std::size_t n = std::min(out.size() - got, len_ - pos_);
        std::copy_n(buf_.data() + pos_, n, out.data() + got);
        pos_ += n;
        got += n;
    }
    return got;
}

BlockWriter::BlockWriter(byte_sink& sink, std::size_t capacity)
    : sink_(sink),
      storage_(std::make_unique_for_overwrite<std::uint8_t[]>(capacity)),
      buf_(storage_.get(), capacity) {}

bool BlockWriter::flush() {
    if (len_ != 0) {
        if (ok_ && !sink_.write(buf_.first(len_))) ok_ = false;
        flushed_ += len_;
        len_ = 0;
    }
    return ok_;
}

void BlockWriter::put(std::string_view text) {
    put(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void BlockWriter::put(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        if (len_ == buf_.size()) flush();
        const std::size_t n = std::min(bytes.size(), buf_.size() - len_);
        std::copy_n(bytes.data(), n, buf_.data() + len_);
        len_ += n;
        bytes = bytes.subspan(n);
    }
}

void BlockWriter::fill(std::uint8_t byte, std::uint64_t count) {
    while (count != 0) {
        if (len_ == buf_.size()) flush();
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>(count, buf_.size() - len_));
        std::fill_n(buf_.data() + len_, n, byte);
        len_ += n;
        count -= n;
    }
}

std::uint64_t copy_file_data(File& from, BlockWriter& to, std::uint64_t limit,
                             const std::function<void(std::span<const std::uint8_t>)>& observe) {
    std::uint64_t copied = 0;
    while (copied < limit) {
        const std::span<std::uint8_t> room = to.room();
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(room.size(), limit - copied));
        const std::size_t got = from.read(room.first(want));
        if (got == 0) break;
        if (observe) observe(room.first(got));
        to.commit(got);
        copied += got;
        if (got < want) break;
    }
    return copied;
}

}  // namespace velk
