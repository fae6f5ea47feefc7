#pragma once

#include <chrono>
#ifndef _WIN32
#include <condition_variable>
#include <mutex>
#endif

namespace k5 {

// An auto-reset event: Set() leaves it signalled until one wait sees it, and that wait
// consumes the signal. A signal no wait has seen yet stays pending. On Windows it is the
// system's own auto-reset event (cancel_event_win32.cpp); elsewhere a mutex and a condition
// variable (cancel_event.cpp).
class CancelEvent {
public:
    CancelEvent();
    ~CancelEvent();
    CancelEvent(const CancelEvent&) = delete;
    CancelEvent& operator=(const CancelEvent&) = delete;

    void Set();
    // Waits up to `timeout` for the signal. True if it came (and is now consumed); a zero
    // timeout only polls.
    bool WaitFor(std::chrono::nanoseconds timeout);
    // Whether a signal is pending; it stays pending. For checks while no other thread waits.
    bool IsSet() const;

private:
#ifdef _WIN32
    void* event_;  // the event's handle
#else
    mutable std::mutex mutex_;
    std::condition_variable signalled_;
    bool set_ = false;
#endif
};

}  // namespace k5
