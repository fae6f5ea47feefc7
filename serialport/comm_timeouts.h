#pragma once

#include <chrono>
#include <cstdint>

#include "serialport/serial_settings.h"

namespace k5 {

// The port record's time-outs follow the Windows rules for a communications device. They
// are turned into waits here, once, and each backend only maps the waits onto its own
// device (a poll() deadline, a COMMTIMEOUTS record).

// No time-out: the wait ends only when its condition is met.
inline constexpr std::chrono::milliseconds kNoTimeout = std::chrono::milliseconds::max();

// The settings' "MAXDWORD", which switches the Windows rules into their special modes.
inline constexpr uint32_t kMaxDword = 0xFFFFFFFF;

// A total time-out: `perByte` for every byte a call asks for, plus `constant`.
struct TotalTimeout {
    std::chrono::milliseconds perByte{0};
    std::chrono::milliseconds constant{kNoTimeout};  // kNoTimeout: there is no total time-out

    bool Used() const { return constant != kNoTimeout; }
    // The time-out of a call for `count` bytes; kNoTimeout when there is none, or when it
    // would be longer than a duration can say.
    std::chrono::milliseconds For(uint64_t count) const;

    friend bool operator==(const TotalTimeout&, const TotalTimeout&) = default;
};

// A total time-out of 0: a read takes what is already there without waiting.
inline constexpr TotalTimeout kNoWait{std::chrono::milliseconds(0), std::chrono::milliseconds(0)};

// How long one read may wait. It ends when its count has arrived, `interval` has passed
// since the last byte received, or `total` has passed since it began. `interval` 0 ends it
// as soon as some bytes are in; a total of 0 takes what is already there without waiting;
// kNoTimeout switches the interval off.
struct ReadTimeouts {
    std::chrono::milliseconds interval{kNoTimeout};
    TotalTimeout total;
};

// How a read waits under the Windows time-out rules, all of them: interval 0 is not used;
// total multiplier and constant both 0 is no total time-out; interval MAXDWORD with both
// totals 0 returns at once with what is there; interval and multiplier MAXDWORD with a
// constant below MAXDWORD return what is there, or else the first bytes to arrive within
// the constant; interval MAXDWORD with other totals returns what is there, or else waits
// under the total time-out alone.
struct ReadWaits {
    bool takeWaitingFirst = false;  // bytes already there end the read at once
    ReadTimeouts timeouts;
};
ReadWaits ReadWaitsFor(const SerialSettings& settings);

// Write multiplier and constant both 0: no write time-out.
TotalTimeout WriteTimeoutFor(const SerialSettings& settings);

}  // namespace k5
