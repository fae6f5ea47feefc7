#pragma once

#include <cstdint>
#include <string_view>

#include "torvik/configuration_observer.h"
#include "torvik/log_relay.h"
#include "worker/worker_observer.h"

namespace k5::torvik {

// A configuration run's reports to the main window, as worker events.
// The completion message: wParam 0, lParam the result code.
inline constexpr uint32_t kMsgConfigurationDone = 0x500;
// Log text waits in the window's LogRelay.
inline constexpr uint32_t kMsgLogPending = 0x501;

// Turns a configuration run's log and completion into worker events for the runner's gate.
// The log text itself goes into the relay, which the window also drains after it has joined
// a stopped worker, so what the run logged up to its end comes before "Cancelled"; only the
// wake-up for it is an event, and a stopped run sends none.
class RunReporter : public ConfigurationObserver {
public:
    RunReporter(LogRelay& relay, WorkerObserver& reporter) : relay_(relay), reporter_(reporter) {}

    void AppendLog(std::string_view text) override;
    void Complete(int resultCode) override;

private:
    LogRelay& relay_;
    WorkerObserver& reporter_;
};

}  // namespace k5::torvik
