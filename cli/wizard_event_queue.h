#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "veldra/worker_observer.h"

namespace k5::cli {

// Where the wizard worker's reports and Ctrl-C meet k5ctl's own thread, as the wizard's
// message queue does for its frame. It also keeps the order in which a stop and the
// calibration's final report came, which decides whether the run counts as stopped.
class WizardEventQueue : public veldra::WorkerObserver {
public:
    using Clock = std::chrono::steady_clock;
    enum class Wake { Event, Interrupt, Timeout };

    void OnWorkerEvent(const veldra::WorkerEvent& event) override;

    void Interrupt();

    // Whether a stop came before the calibration's final report, taken or not. One that
    // comes after it is too late: the calibration has ended with its own code.
    bool StoppedBeforeCalibrationEnded();

    // Waits for the next event, an interrupt not yet taken, or `deadline`.
    Wake WaitUntil(std::optional<Clock::time_point> deadline, veldra::WorkerEvent& event);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<veldra::WorkerEvent> events_;
    bool interrupted_ = false;
    bool calibrationEnded_ = false;
    bool stoppedBeforeCalibrationEnded_ = false;
};

}  // namespace k5::cli
