#pragma once

#include <cstdint>

#include "devlink/device_link.h"
#include "worker/worker_observer.h"

namespace k5::veldra {

// How a warm-up run ended.
enum class WarmUpEnd {
    Failed,     // reported kWarmUpError
    Cancelled,  // reported kWarmUpCancelled (stop seen in a start-up wait)
    Stopped,    // stopped while keeping the amplifier warm; nothing more reported
};

// The warm-up worker, on the link's open port: switches the amplifier on if it is in
// standby, puts it into the test state, reports kWarmUpRunning and then repeats the power
// and test-state commands about once a second until it is stopped through the cancel event.
// A failed command reports kWarmUpError, a stop in a start-up wait kWarmUpCancelled; a stop
// in the keep-alive pause ends the run silently. A command that fails after the observer
// says stop is taken as the stop itself, so a stopped run never reports an error.
WarmUpEnd RunWarmUp(DeviceLink& link, WorkerObserver& observer);

}  // namespace k5::veldra
