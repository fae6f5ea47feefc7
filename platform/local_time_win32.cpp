#include <time.h>

#include "platform/local_time.h"

namespace k5 {

LocalTime LocalTimeAt(std::time_t when) {
    std::tm local{};
    localtime_s(&local, &when);
    // The local calendar time read back as if it were UTC lies the zone's offset away.
    std::tm asUtc = local;
    const std::time_t shifted = _mkgmtime(&asUtc);
    return LocalTime{local.tm_year + 1900,
                     local.tm_mon + 1,
                     local.tm_mday,
                     local.tm_hour,
                     local.tm_min,
                     local.tm_sec,
                     static_cast<int>((shifted - when) / 60)};
}

}  // namespace k5
