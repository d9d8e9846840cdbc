#pragma once

#include <compare>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace quelvo {

// A calendar date and time of day, local time, with millisecond precision. Its zero is
// 1899-12-30 00:00:00, the value that stands for "no date" in the site's payloads.
struct TDateTime {
    int Year = 1899;
    int Month = 12;
    int Day = 30;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;

    static TDateTime Now();
    static TDateTime FromTimeT(std::time_t t, int millisecond = 0);  // in local time
    static TDateTime FromDate(int year, int month, int day);
    static TDateTime FromDays(long days);  // whole days since the zero

    bool IsZero() const { return *this == TDateTime{}; }
    TDateTime DateOnly() const { return FromDate(Year, Month, Day); }
    // Whole days since the zero (negative before it).
    long Days() const;

    auto operator<=>(const TDateTime&) const = default;
};

// Brazilian formats: short date dd/mm/yyyy, long time hh:mm:ss.
std::string FormatShortDate(const TDateTime& t);
std::string FormatLongTime(const TDateTime& t);
// Short date, a blank and the long time; the time is left out when it is exactly midnight.
std::string FormatDateTime(const TDateTime& t);

// Reads a short date "dd/mm/yyyy" (one- or two-digit day and month); nothing for anything else,
// an impossible date included.
std::optional<TDateTime> ParseShortDate(std::string_view text);

bool IsValidDate(int year, int month, int day);

// Whole number with "." between groups of three digits: 1234 gives "1.234".
std::string FormatThousands(long long value);

}  // namespace quelvo
