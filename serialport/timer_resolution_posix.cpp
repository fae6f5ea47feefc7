#include "serialport/timer_resolution.h"

namespace k5 {

// POSIX sleeps and polls are not rounded to a coarse tick: nothing to ask for.
TimerResolution::TimerResolution() = default;
TimerResolution::~TimerResolution() = default;

}  // namespace k5
