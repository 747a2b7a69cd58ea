// The key reader against a model written from the key rules alone: up to
// the first NUL or blank, only hexadecimal digits (either case) and '-' are
// allowed; any other character makes the key bad, with value 0, and the
// printing form reports it with one line; a '-' anywhere negates modulo
// 2^32; of the digits only the last eight count. The model checks the
// characters as a set and reads the last eight digits with the C library,
// so it shares no code path with the reader.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "compat/keys.hpp"

namespace {

struct Expected {
    std::uint32_t value;
    bool bad;
};

Expected model(const std::string& text) {
    const std::string key = text.substr(0, std::strcspn(text.c_str(), " "));
    if (key.find_first_not_of("0123456789abcdefABCDEF-") != std::string::npos) return {0, true};
    std::string digits;
    for (char c : key) {
        if (c != '-') digits.push_back(c);
    }
    const std::string last8 = digits.size() > 8 ? digits.substr(digits.size() - 8) : digits;
    const auto value =
        last8.empty() ? 0u : static_cast<std::uint32_t>(std::strtoul(last8.c_str(), nullptr, 16));
    const bool negative = key.find('-') != std::string::npos;
    return {negative ? 0u - value : value, false};
}

int capture_read = -1;   // what the parser prints during one call arrives here
int capture_write = -1;

// Everything the parser prints during one call. Standard output is pointed
// at a pipe only for the call: libFuzzer may point descriptor 1 elsewhere
// after LLVMFuzzerInitialize, and its own output must not be read here.
std::string printed_by(std::uint32_t& value, const char* text) {
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    if (saved < 0 || dup2(capture_write, STDOUT_FILENO) < 0) std::abort();
    value = velk::compat::parse_hex_key(text);
    std::fflush(stdout);
    if (dup2(saved, STDOUT_FILENO) < 0) std::abort();
    close(saved);
    std::string out;
    char chunk[256];
    for (ssize_t n; (n = read(capture_read, chunk, sizeof chunk)) > 0;) {
        out.append(chunk, static_cast<std::size_t>(n));
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    int fds[2];
    if (pipe(fds) != 0) std::abort();
    capture_read = fds[0];
    capture_write = fds[1];
    if (fcntl(capture_read, F_SETFL, O_NONBLOCK) != 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The key ends at its first NUL, as a C string does.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const Expected want = model(text.c_str());
    std::uint32_t got = 0;
    const std::string out = printed_by(got, text.c_str());
    if (got != want.value) std::abort();
    if (out != (want.bad ? " Error: Parameter failed!\n" : "")) std::abort();
    // The silent reader gives the same value and says whether it was bad.
    const velk::compat::hex_key_reading reading = velk::compat::read_hex_key(text.c_str());
    if (reading.value != want.value || reading.bad != want.bad) std::abort();
    return 0;
}
