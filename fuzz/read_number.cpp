// The number reader of the option parses against an independent model:
// the C library's own strtoull, saturated and wrapped to 32 bits.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "compat/args.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::uint32_t got = velk::compat::read_number(text.c_str());

    // strtoull reads the same syntax; only its range differs.
    const char* p = text.c_str();
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    const bool negative = *p == '-';
    const char* digits = (*p == '-' || *p == '+') ? p + 1 : p;
    if (*digits == '-' || *digits == '+' || *digits == ' ' ||
        (*digits >= '\t' && *digits <= '\r'))
        return 0;  // strtoull would skip more than one sign or blank here
    errno = 0;
    const unsigned long long magnitude = std::strtoull(digits, nullptr, 0);
    std::uint32_t want = 0;
    if (errno == ERANGE || magnitude > 0xFFFFFFFFull) {
        want = 0xFFFFFFFFu;
    } else {
        want = static_cast<std::uint32_t>(magnitude);
        if (negative) want = static_cast<std::uint32_t>(0u - want);
    }
    if (got != want) std::abort();
    return 0;
}
