#pragma once
// The image version an OAD header carries when none is given: a number
// made from the time of the build, so that later builds usually carry
// larger versions.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string_view>

namespace velk {

// The year plus month (from 0), day, hour, minute and second of `when`.
std::uint32_t version_from_time(const std::tm& when);

// What SOURCE_DATE_EPOCH says, for builds that must give the same bytes
// every time: unset (absent or empty), a time, or malformed (anything but
// decimal digits, or a value that does not fit a time).
struct source_date {
    enum class kind { unset, time, malformed } what = kind::unset;
    std::time_t seconds = 0;
};
source_date read_source_date_epoch(const char* value);

// The local time of the build, as the caller's clock tells it (io's
// local_time_now); nothing when it cannot.
using local_clock = std::optional<std::tm> (*)();

// The default version: from SOURCE_DATE_EPOCH in UTC when it holds a time,
// else from `now`, asked only then. Nothing when the variable is
// malformed or the time cannot be broken down.
std::optional<std::uint32_t> default_image_version(const source_date& epoch, local_clock now);

}  // namespace velk
