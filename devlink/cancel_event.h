#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace k5 {

// An auto-reset event: Set() leaves it signalled until one wait sees it, and that wait
// consumes the signal. A signal no wait has seen yet stays pending.
class CancelEvent {
public:
    void Set();
    // Waits up to `timeout` for the signal. True if it came (and is now consumed); a zero
    // timeout only polls.
    bool WaitFor(std::chrono::nanoseconds timeout);
    bool IsSet() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable signalled_;
    bool set_ = false;
};

}  // namespace k5
