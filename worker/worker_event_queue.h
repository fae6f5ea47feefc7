#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

#include "worker/worker_observer.h"

namespace k5 {

// Where a worker's reports and a stop request (Ctrl-C) meet a thread without an event loop,
// as a window's message queue does for the window. It also keeps the order in which a stop
// and the run's final report came, which decides whether the run counts as stopped.
class WorkerEventQueue : public WorkerObserver {
public:
    using Clock = std::chrono::steady_clock;
    using FinalReport = std::function<bool(const WorkerEvent&)>;
    enum class Wake { Event, Interrupt, Timeout };

    // `isFinal` tells the run's final report from the others; without it no report is final.
    explicit WorkerEventQueue(FinalReport isFinal = {});

    void OnWorkerEvent(const WorkerEvent& event) override;

    void Interrupt();

    // Whether a stop came before the final report, taken or not. One that comes after it is
    // too late: the run has ended with its own code.
    bool StoppedBeforeFinalReport();

    // Waits for the next event, an interrupt not yet taken, or `deadline`.
    Wake WaitUntil(std::optional<Clock::time_point> deadline, WorkerEvent& event);

private:
    const FinalReport isFinal_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<WorkerEvent> events_;
    bool interrupted_ = false;
    bool finalReported_ = false;
    bool stoppedBeforeFinalReport_ = false;
};

}  // namespace k5
