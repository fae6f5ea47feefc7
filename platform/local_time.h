#pragma once

#include <ctime>

namespace k5 {

// A moment in the local time zone, to the second.
struct LocalTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int utcOffsetMinutes = 0;  // local time minus UTC: +60 for Central European winter time
};

// `when` in the local time zone as the system has it set.
LocalTime LocalTimeAt(std::time_t when);

}  // namespace k5
