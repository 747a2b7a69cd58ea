#include "formats/oad/version.hpp"

#include <limits>

#include "io/clock.hpp"

namespace velk {

std::uint32_t version_from_time(const std::tm& when) {
    const auto year = static_cast<std::uint32_t>(when.tm_year + 1900) & 0xFFFFu;
    const auto spread =
        static_cast<std::uint32_t>(when.tm_mon + when.tm_mday + when.tm_hour + when.tm_min +
                                   when.tm_sec) &
        0xFFFFu;
    return year + spread;
}

source_date read_source_date_epoch(const char* value) {
    if (value == nullptr || *value == '\0') return {};
    // A time_t of 64 bits holds every 18-digit number; more digits than
    // that are no date anyone builds at.
    constexpr int max_digits = 18;
    std::int64_t seconds = 0;
    int digits = 0;
    for (const char* p = value; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || ++digits > max_digits) return {source_date::kind::malformed, 0};
        seconds = seconds * 10 + (*p - '0');
    }
    if (seconds > std::numeric_limits<std::time_t>::max()) return {source_date::kind::malformed, 0};
    return {source_date::kind::time, static_cast<std::time_t>(seconds)};
}

std::optional<std::uint32_t> default_image_version(const source_date& epoch, local_clock now) {
    std::optional<std::tm> when;
    switch (epoch.what) {
        case source_date::kind::malformed: return std::nullopt;
        case source_date::kind::time: when = utc_time(epoch.seconds); break;
        case source_date::kind::unset: when = now(); break;
    }
    if (!when) return std::nullopt;
    return version_from_time(*when);
}

}  // namespace velk
