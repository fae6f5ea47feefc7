#include "serialport/cancel_event.h"

namespace k5 {

CancelEvent::CancelEvent() = default;
CancelEvent::~CancelEvent() = default;

void CancelEvent::Set() {
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    signalled_.notify_all();
}

bool CancelEvent::WaitFor(std::chrono::nanoseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    if (!signalled_.wait_until(lock, deadline, [this] { return set_; })) {
        return false;
    }
    set_ = false;  // auto-reset: this wait consumes the signal
    return true;
}

bool CancelEvent::IsSet() const {
    std::lock_guard lock(mutex_);
    return set_;
}

}  // namespace k5
