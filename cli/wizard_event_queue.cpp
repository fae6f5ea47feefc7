#include "cli/wizard_event_queue.h"

#include "veldra/event_codes.h"

namespace k5::cli {

void WizardEventQueue::OnWorkerEvent(const veldra::WorkerEvent& event) {
    {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
        if (event.message == veldra::kMsgCalibProgress && veldra::IsFinalCalibCode(event.code)) {
            calibrationEnded_ = true;
        }
    }
    changed_.notify_all();
}

void WizardEventQueue::Interrupt() {
    {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
        if (!calibrationEnded_) {
            stoppedBeforeCalibrationEnded_ = true;
        }
    }
    changed_.notify_all();
}

bool WizardEventQueue::StoppedBeforeCalibrationEnded() {
    std::lock_guard lock(mutex_);
    return stoppedBeforeCalibrationEnded_;
}

WizardEventQueue::Wake WizardEventQueue::WaitUntil(std::optional<Clock::time_point> deadline,
                                                   veldra::WorkerEvent& event) {
    std::unique_lock lock(mutex_);
    auto ready = [this] { return interrupted_ || !events_.empty(); };
    if (deadline) {
        if (!changed_.wait_until(lock, *deadline, ready)) {
            return Wake::Timeout;
        }
    } else {
        changed_.wait(lock, ready);
    }
    if (interrupted_) {
        interrupted_ = false;
        return Wake::Interrupt;
    }
    event = events_.front();
    events_.pop_front();
    return Wake::Event;
}

}  // namespace k5::cli
