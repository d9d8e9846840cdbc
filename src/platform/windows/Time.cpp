#include "platform/Time.h"

namespace quelvo::platform {

std::tm LocalTime(std::time_t t) {
    std::tm tm{};
    ::localtime_s(&tm, &t);
    return tm;
}

std::time_t FromUtc(std::tm tm) {
    return ::_mkgmtime(&tm);
}

}  // namespace quelvo::platform
