#include <condition_variable>
#include <mutex>

#include "serialport/cancel_event.h"

namespace k5 {

struct CancelEvent::Native {
    std::mutex mutex;
    std::condition_variable signalled;
    bool set = false;
};

CancelEvent::CancelEvent() : native_(std::make_unique<Native>()) {}
CancelEvent::~CancelEvent() = default;

void CancelEvent::Set() {
    {
        std::lock_guard lock(native_->mutex);
        native_->set = true;
    }
    native_->signalled.notify_all();
}

bool CancelEvent::WaitFor(std::chrono::nanoseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Native& n = *native_;
    std::unique_lock lock(n.mutex);
    if (!n.signalled.wait_until(lock, deadline, [&n] { return n.set; })) {
        return false;
    }
    n.set = false;  // auto-reset: this wait consumes the signal
    return true;
}

bool CancelEvent::IsSet() const {
    std::lock_guard lock(native_->mutex);
    return native_->set;
}

}  // namespace k5
