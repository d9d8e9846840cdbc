#pragma once

#include <ctime>

// The C library's calendar conversions that differ between the systems (localtime_r and timegm
// on Linux, localtime_s and _mkgmtime on Windows). posix/Time.cpp and windows/Time.cpp.
namespace quelvo::platform {

// The instant as the user's local date and time.
std::tm LocalTime(std::time_t t);

// The instant of a date and time given in UTC (tm_isdst ignored).
std::time_t FromUtc(std::tm tm);

}  // namespace quelvo::platform
