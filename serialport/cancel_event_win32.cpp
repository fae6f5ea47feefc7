// The cancel event on Windows: an unnamed auto-reset event, waited on with
// WaitForSingleObject. Each wait turns the time left into whole milliseconds once, rounding
// up, so a pause lasts its nominal time and not a tick more than the timer makes it.
#include <windows.h>

#include <cstdlib>

#include "serialport/cancel_event.h"

namespace k5 {

namespace {
using Clock = std::chrono::steady_clock;

DWORD WaitMs(Clock::duration remaining) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(remaining).count();
    if (ns <= 0) {
        return 0;
    }
    const long long ms = (ns + 999'999) / 1'000'000;
    return ms >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(ms);
}
}  // namespace

struct CancelEvent::Native {
    HANDLE event = nullptr;
};

CancelEvent::CancelEvent()
    : native_(std::make_unique<Native>(Native{CreateEventA(nullptr, FALSE, FALSE, nullptr)})) {
    if (native_->event == nullptr) {
        std::abort();  // without its event a worker could never be stopped
    }
}

CancelEvent::~CancelEvent() {
    CloseHandle(native_->event);
}

void CancelEvent::Set() {
    SetEvent(native_->event);
}

bool CancelEvent::WaitFor(std::chrono::nanoseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const DWORD ms = WaitMs(deadline - Clock::now());
        const DWORD result = WaitForSingleObject(native_->event, ms);
        if (result == WAIT_OBJECT_0) {
            return true;  // auto-reset: this wait consumed the signal
        }
        // The system timer may end a wait a fraction of a tick early; wait out the rest.
        if (result != WAIT_TIMEOUT || ms == 0 || Clock::now() >= deadline) {
            return false;
        }
    }
}

bool CancelEvent::IsSet() const {
    const HANDLE event = native_->event;
    if (WaitForSingleObject(event, 0) != WAIT_OBJECT_0) {
        return false;
    }
    SetEvent(event);  // looking consumed it: put it back
    return true;
}

}  // namespace k5
