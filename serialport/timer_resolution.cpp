#include "serialport/timer_resolution.h"

#ifdef _WIN32
#include <windows.h>
// after windows.h, which it needs
#include <mmsystem.h>
#endif

namespace k5 {

#ifdef _WIN32
TimerResolution::TimerResolution() : granted_(timeBeginPeriod(1) == TIMERR_NOERROR) {}

TimerResolution::~TimerResolution() {
    if (granted_) {
        timeEndPeriod(1);
    }
}
#else
TimerResolution::TimerResolution() = default;
TimerResolution::~TimerResolution() = default;
#endif

}  // namespace k5
