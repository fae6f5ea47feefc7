#pragma once

#include <chrono>
#include <memory>

namespace k5 {

// An auto-reset event: Set() leaves it signalled until one wait sees it, and that wait
// consumes the signal. A signal no wait has seen yet stays pending. On Windows it is the
// system's own auto-reset event (cancel_event_win32.cpp); elsewhere a mutex and a condition
// variable (cancel_event_posix.cpp).
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
    // The event as the platform keeps it; each implementation file defines it.
    struct Native;
    std::unique_ptr<Native> native_;
};

}  // namespace k5
