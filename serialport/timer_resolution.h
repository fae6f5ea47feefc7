#pragma once

namespace k5 {

// While it exists, the process asks the system for a 1 ms timer: on Windows every pause and
// time-out would otherwise run to the next 15.6 ms tick. Elsewhere it does nothing. Each
// program keeps one in main() for its whole run; it is released when main returns.
class TimerResolution {
public:
    TimerResolution();
    ~TimerResolution();
    TimerResolution(const TimerResolution&) = delete;
    TimerResolution& operator=(const TimerResolution&) = delete;

    bool Granted() const { return granted_; }

private:
    bool granted_ = false;
};

}  // namespace k5
