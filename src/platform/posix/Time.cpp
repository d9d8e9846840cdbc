#include "platform/Time.h"

namespace quelvo::platform {

std::tm LocalTime(std::time_t t) {
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return tm;
}

std::time_t FromUtc(std::tm tm) {
    return ::timegm(&tm);
}

}  // namespace quelvo::platform
