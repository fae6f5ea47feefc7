#include "platform/local_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace k5 {
namespace {

// The zone for the life of the object; the C library reads TZ again at tzset().
class ScopedZone {
public:
    explicit ScopedZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            previous_ = old;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedZone() {
        if (previous_) {
            setenv("TZ", previous_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ScopedZone(const ScopedZone&) = delete;
    ScopedZone& operator=(const ScopedZone&) = delete;

private:
    std::optional<std::string> previous_;
};

TEST(LocalTime, CalendarFieldsAndOffsetInEachZone) {
    struct Case {
        const char* zone;  // POSIX TZ rules, so no time zone database is needed
        std::time_t when;
        LocalTime expected;
    };
    const std::vector<Case> cases = {
        {"UTC0", 0, {1970, 1, 1, 0, 0, 0, 0}},
        // 2009-07-03 07:05:12 UTC: summer time.
        {"CET-1CEST,M3.5.0,M10.5.0/3", 1246604712, {2009, 7, 3, 9, 5, 12, 120}},
        // 2026-02-28 18:20:00 UTC: winter time.
        {"CET-1CEST,M3.5.0,M10.5.0/3", 1772302800, {2026, 2, 28, 19, 20, 0, 60}},
        // West of UTC by a part hour, back over the turn of the year.
        {"<-0330>3:30", 1798768800, {2026, 12, 31, 22, 30, 0, -210}},
        // East of UTC by a part hour, on over the end of February.
        {"<+0545>-5:45", 1772302800, {2026, 3, 1, 0, 5, 0, 345}},
    };
    for (const Case& c : cases) {
        const ScopedZone zone(c.zone);
        const LocalTime got = LocalTimeAt(c.when);
        const LocalTime& want = c.expected;
        const std::string at = std::string(c.zone) + " at " + std::to_string(c.when);
        EXPECT_EQ(got.year, want.year) << at;
        EXPECT_EQ(got.month, want.month) << at;
        EXPECT_EQ(got.day, want.day) << at;
        EXPECT_EQ(got.hour, want.hour) << at;
        EXPECT_EQ(got.minute, want.minute) << at;
        EXPECT_EQ(got.second, want.second) << at;
        EXPECT_EQ(got.utcOffsetMinutes, want.utcOffsetMinutes) << at;
    }
}

}  // namespace
}  // namespace k5
