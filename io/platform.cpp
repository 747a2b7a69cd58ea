#include "io/platform.hpp"

#include <limits>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <sys/stat.h>
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

void set_binary_stdout() {
#ifdef _WIN32
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

}  // namespace velk
