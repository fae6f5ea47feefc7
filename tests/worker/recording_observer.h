#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "worker/worker_observer.h"

namespace k5::test {

// Records what a worker reports; `onEvent` runs on the worker's thread after each event, so
// a test can act at a chosen point of a run.
class RecordingObserver : public WorkerObserver {
public:
    std::function<void(const WorkerEvent&)> onEvent;

    void OnWorkerEvent(const WorkerEvent& event) override {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(event);
        }
        changed_.notify_all();
        if (onEvent) {
            onEvent(event);
        }
    }
    std::vector<WorkerEvent> Events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<uint32_t> Codes() const {
        std::vector<uint32_t> codes;
        for (const WorkerEvent& e : Events()) {
            codes.push_back(e.code);
        }
        return codes;
    }
    bool WaitForCode(uint32_t code, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            return std::any_of(events_.begin(), events_.end(),
                               [&](const WorkerEvent& e) { return e.code == code; });
        });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<WorkerEvent> events_;
};

}  // namespace k5::test
