#include "io/clock.hpp"

#include <cstdlib>

namespace velk {

std::optional<std::tm> local_time_now() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
#if defined(_WIN32)
    if (localtime_s(&parts, &now) != 0) return std::nullopt;
#else
    if (localtime_r(&now, &parts) == nullptr) return std::nullopt;
#endif
    return parts;
}

std::optional<std::tm> utc_time(std::time_t seconds) {
    std::tm parts{};
#if defined(_WIN32)
    if (gmtime_s(&parts, &seconds) != 0) return std::nullopt;
#else
    if (gmtime_r(&seconds, &parts) == nullptr) return std::nullopt;
#endif
    return parts;
}

const char* environment_variable(const char* name) { return std::getenv(name); }

}  // namespace velk
