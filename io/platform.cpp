#include "io/platform.hpp"

#include <algorithm>
#include <limits>

#include <cerrno>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace velk {

std::optional<std::uint64_t> stream_size(std::FILE* stream) {
#ifdef _WIN32
    struct _stat64 info {};
    if (_fstat64(_fileno(stream), &info) != 0 || info.st_size < 0) return std::nullopt;
#else
    struct stat info {};
    if (fstat(fileno(stream), &info) != 0 || info.st_size < 0) return std::nullopt;
#endif
    return static_cast<std::uint64_t>(info.st_size);
}

bool stream_seek(std::FILE* stream, std::uint64_t offset) {
#ifdef _WIN32
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<__int64>::max())) return false;
    return _fseeki64(stream, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
    return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

#ifdef _WIN32
namespace {

// The stream's handle, and an OVERLAPPED that names `offset`: with it a
// synchronous handle reads or writes there.
HANDLE handle_of(std::FILE* stream) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}
OVERLAPPED at_offset(std::uint64_t offset) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return where;
}
// ReadFile and WriteFile with an OVERLAPPED offset still move a synchronous
// handle's file pointer, which pread and pwrite leave alone. The C library
// reads and writes the stream in order from that pointer, so a positional
// call puts it back where it was: a file whose first bytes were looked at to
// tell its kind is then read from its start, not from where the look ended.
class kept_position {
public:
    explicit kept_position(HANDLE file) : file_(file) {
        known_ = SetFilePointerEx(file_, LARGE_INTEGER{}, &at_, FILE_CURRENT) != 0;
    }
    ~kept_position() {
        if (known_) SetFilePointerEx(file_, at_, nullptr, FILE_BEGIN);
    }
    kept_position(const kept_position&) = delete;
    kept_position& operator=(const kept_position&) = delete;

private:
    HANDLE file_;
    LARGE_INTEGER at_{};
    bool known_ = false;
};

int errno_of_last_error() {
    const DWORD code = GetLastError();
    return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL ? ENOSPC : EIO;
}
// At most this much per call: the counts are 32-bit.
constexpr std::size_t max_call = std::size_t{1} << 30;

}  // namespace

std::size_t stream_read_at(std::FILE* stream, std::uint64_t offset, std::span<std::uint8_t> buf,
                           int& error) {
    const HANDLE file = handle_of(stream);
    const kept_position kept(file);
    std::size_t done = 0;
    while (done < buf.size()) {
        OVERLAPPED where = at_offset(offset + done);
        DWORD got = 0;
        const auto want = static_cast<DWORD>(std::min(buf.size() - done, max_call));
        if (ReadFile(file, buf.data() + done, want, &got, &where) == 0) {
            if (GetLastError() != ERROR_HANDLE_EOF) error = errno_of_last_error();
            break;
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

bool stream_write_at(std::FILE* stream, std::uint64_t offset, std::span<const std::uint8_t> bytes,
                     int& error) {
    const HANDLE file = handle_of(stream);
    const kept_position kept(file);
    std::size_t done = 0;
    while (done < bytes.size()) {
        OVERLAPPED where = at_offset(offset + done);
        DWORD put = 0;
        const auto want = static_cast<DWORD>(std::min(bytes.size() - done, max_call));
        if (WriteFile(file, bytes.data() + done, want, &put, &where) == 0 || put == 0) {
            error = errno_of_last_error();
            return false;
        }
        done += put;
    }
    return true;
}
#else
std::size_t stream_read_at(std::FILE* stream, std::uint64_t offset, std::span<std::uint8_t> buf,
                           int& error) {
    const int fd = fileno(stream);
    std::size_t done = 0;
    while (done < buf.size()) {
        const ssize_t got = ::pread(fd, buf.data() + done, buf.size() - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) error = errno;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool stream_write_at(std::FILE* stream, std::uint64_t offset, std::span<const std::uint8_t> bytes,
                     int& error) {
    const int fd = fileno(stream);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                     static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            error = put < 0 ? errno : EIO;
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}
#endif

std::filesystem::path path_from_utf8(const std::string& name) {
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(name.data()), name.size()));
}

std::string utf8_from_path(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

std::FILE* create_new_file(const std::string& name, int& error) {
#ifdef _WIN32
    const int fd = _open(name.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, "wb+");
    if (stream == nullptr) {
        error = errno;
        _close(fd);
        _unlink(name.c_str());
    }
    return stream;
#else
    // Permissions as a newly created file gets them, the umask applied.
    const int fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    std::FILE* stream = fdopen(fd, "wb+");
    if (stream == nullptr) {
        error = errno;
        ::close(fd);
        ::unlink(name.c_str());
    }
    return stream;
#endif
}

bool replace_file(const std::string& from, const std::string& to, int& error) {
#ifdef _WIN32
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) return true;
    error = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
#else
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    error = errno;
    return false;
#endif
}

void set_binary_stdout() {
#ifdef _WIN32
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

}  // namespace velk

namespace velk {

void set_binary_stdin() {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
}

}  // namespace velk
