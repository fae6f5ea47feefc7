#include "worker/worker_event_queue.h"

#include <utility>

namespace k5 {

WorkerEventQueue::WorkerEventQueue(FinalReport isFinal) : isFinal_(std::move(isFinal)) {}

void WorkerEventQueue::OnWorkerEvent(const WorkerEvent& event) {
    {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
        if (isFinal_ && isFinal_(event)) {
            finalReported_ = true;
        }
    }
    changed_.notify_all();
}

void WorkerEventQueue::Interrupt() {
    {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
        if (!finalReported_) {
            stoppedBeforeFinalReport_ = true;
        }
    }
    changed_.notify_all();
}

bool WorkerEventQueue::StoppedBeforeFinalReport() {
    std::lock_guard lock(mutex_);
    return stoppedBeforeFinalReport_;
}

WorkerEventQueue::Wake WorkerEventQueue::WaitUntil(std::optional<Clock::time_point> deadline,
                                                   WorkerEvent& event) {
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

}  // namespace k5
