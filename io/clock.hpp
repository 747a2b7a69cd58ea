#pragma once
// The clock and the environment, read here and nowhere else, so that the
// engine takes times and settings as values and its results depend on
// nothing else.

#include <ctime>
#include <optional>

namespace velk {

// Now, broken down in the local time zone; nothing when the system cannot
// tell.
std::optional<std::tm> local_time_now();

// `seconds` since 1970 broken down in UTC; nothing when that time does not
// fit the system's calendar.
std::optional<std::tm> utc_time(std::time_t seconds);

// The value of the environment variable `name`; null when it is not set.
const char* environment_variable(const char* name);

}  // namespace velk
