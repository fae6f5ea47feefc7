#include "veldra/warm_up.h"

#include "devlink/commands.h"
#include "veldra/event_codes.h"

namespace k5::veldra {

namespace {

// Switching on from standby: the echo may take up to 6 s; the amplifier then needs a further
// 14 s before it takes settings.
constexpr uint32_t kSwitchOnPauseMs = 6000;
constexpr uint32_t kSwitchOnSettleMs = 14000;
constexpr uint32_t kSettleMs = 100;
constexpr uint32_t kKeepAliveMs = 1000;
constexpr uint32_t kKeepAlivePowerPauseMs = 10;

bool Command(DeviceLink& link, std::string_view command, uint32_t pauseMs) {
    return link.SendCommand(command, command, pauseMs) == 1;
}

bool TestState(DeviceLink& link) {
    return Command(link, cmd::kSourceCoax1, 5) && Command(link, cmd::kTestTone1k, 5) &&
           Command(link, cmd::kVolumeMinus8, 5);
}

WarmUpEnd Report(WorkerObserver& observer, uint32_t code) {
    observer.OnWorkerEvent({kMsgWarmUpEvent, code, 0});
    return code == kWarmUpError ? WarmUpEnd::Failed : WarmUpEnd::Cancelled;
}

// A command that a stop request broke off is the stop, not an amplifier fault.
WarmUpEnd CommandFailed(WorkerObserver& observer) {
    return observer.StopRequested() ? WarmUpEnd::Stopped : Report(observer, kWarmUpError);
}

}  // namespace

WarmUpEnd RunWarmUp(DeviceLink& link, WorkerObserver& observer) {
    if (!link.SendCommand(cmd::kPowerQuery, cmd::kPowerOn, 5)) {
        // A stop that broke off the query must not cost the 6 s switch-on pause as well.
        if (observer.StopRequested()) {
            return WarmUpEnd::Stopped;
        }
        if (!Command(link, cmd::kPowerOn, kSwitchOnPauseMs)) {
            return CommandFailed(observer);
        }
        if (link.WaitOrCancel(kSwitchOnSettleMs) == WaitResult::Cancelled) {
            return Report(observer, kWarmUpCancelled);
        }
    }
    if (link.WaitOrCancel(kSettleMs) == WaitResult::Cancelled) {
        return Report(observer, kWarmUpCancelled);
    }
    if (!TestState(link)) {
        return CommandFailed(observer);
    }
    observer.OnWorkerEvent({kMsgWarmUpEvent, kWarmUpRunning, 0});
    for (;;) {
        if (link.WaitOrCancel(kKeepAliveMs) == WaitResult::Cancelled) {
            return WarmUpEnd::Stopped;
        }
        if (!Command(link, cmd::kPowerOn, kKeepAlivePowerPauseMs) || !TestState(link)) {
            return CommandFailed(observer);
        }
    }
}

}  // namespace k5::veldra
