#include <windows.h>
// after windows.h, which it needs
#include <mmsystem.h>

#include "serialport/timer_resolution.h"

namespace k5 {

TimerResolution::TimerResolution() : granted_(timeBeginPeriod(1) == TIMERR_NOERROR) {}

TimerResolution::~TimerResolution() {
    if (granted_) {
        timeEndPeriod(1);
    }
}

}  // namespace k5
