#include <windows.h>
// after windows.h, which it needs
#include <mmsystem.h>

#include "serialport/timer_resolution.h"

namespace k5 {

namespace {

// Windows 11 lets a process whose windows are hidden or minimised lose the 1 ms timer it
// asked for, and a run goes on behind a minimised window: the process keeps its request
// whatever its windows do. Systems that do not know the setting refuse it, which is harmless.
void KeepTimerResolutionWhenHidden() {
    PROCESS_POWER_THROTTLING_STATE state{};
    state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    state.ControlMask = PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
    state.StateMask = 0;  // controlled and off: never throttled
    (void)SetProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof(state));
}

}  // namespace

TimerResolution::TimerResolution() : granted_(timeBeginPeriod(1) == TIMERR_NOERROR) {
    KeepTimerResolutionWhenHidden();
}

TimerResolution::~TimerResolution() {
    if (granted_) {
        timeEndPeriod(1);
    }
}

}  // namespace k5
