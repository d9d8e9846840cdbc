#include "common/DateTime.h"

#include <charconv>
#include <chrono>
#include <cstdio>

#include "platform/Time.h"

namespace quelvo {

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
long DaysFromCivil(long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468;
}

void CivilFromDays(long z, int& year, int& month, int& day) {
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long y = static_cast<long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

const long kZeroFromUnix = DaysFromCivil(1899, 12, 30);

}  // namespace

TDateTime TDateTime::Now() {
    const auto now = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
    return FromTimeT(static_cast<std::time_t>(ms.count() / 1000),
                     static_cast<int>(ms.count() % 1000));
}

TDateTime TDateTime::FromTimeT(std::time_t t, int millisecond) {
    const std::tm tm = platform::LocalTime(t);
    return TDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                     tm.tm_min,         tm.tm_sec,     millisecond};
}

TDateTime TDateTime::FromDate(int year, int month, int day) {
    return TDateTime{year, month, day, 0, 0, 0, 0};
}

TDateTime TDateTime::FromDays(long days) {
    TDateTime t;
    CivilFromDays(days + kZeroFromUnix, t.Year, t.Month, t.Day);
    return t;
}

long TDateTime::Days() const {
    return DaysFromCivil(Year, static_cast<unsigned>(Month), static_cast<unsigned>(Day)) -
           kZeroFromUnix;
}

std::string FormatShortDate(const TDateTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", t.Day, t.Month, t.Year);
    return buf;
}

std::string FormatLongTime(const TDateTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.Hour, t.Minute, t.Second);
    return buf;
}

std::string FormatDateTime(const TDateTime& t) {
    if (t.Hour == 0 && t.Minute == 0 && t.Second == 0 && t.Millisecond == 0) {
        return FormatShortDate(t);
    }
    return FormatShortDate(t) + " " + FormatLongTime(t);
}

bool IsValidDate(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) {
        return false;
    }
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

std::optional<TDateTime> ParseShortDate(std::string_view text) {
    int parts[3] = {0, 0, 0};
    size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t end = i < 2 ? text.find('/', pos) : text.size();
        if (end == std::string_view::npos || end == pos || end - pos > (i < 2 ? 2u : 4u)) {
            return std::nullopt;
        }
        const auto field = text.substr(pos, end - pos);
        const auto [p, ec] = std::from_chars(field.data(), field.data() + field.size(), parts[i]);
        if (ec != std::errc{} || p != field.data() + field.size()) {
            return std::nullopt;
        }
        pos = end + 1;
    }
    if (!IsValidDate(parts[2], parts[1], parts[0])) {
        return std::nullopt;
    }
    return TDateTime::FromDate(parts[2], parts[1], parts[0]);
}

std::string FormatThousands(long long value) {
    const bool negative = value < 0;
    // Work on the unsigned magnitude so that the smallest value has no overflow.
    unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                                            : static_cast<unsigned long long>(value);
    std::string digits = std::to_string(magnitude);
    std::string out;
    const size_t n = digits.size();
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) {
            out += '.';
        }
        out += digits[i];
    }
    return negative ? "-" + out : out;
}

}  // namespace quelvo
