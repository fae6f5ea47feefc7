#include "cli/stop_hub.h"

#include <utility>

namespace k5::cli {

StopHub::Subscription::Subscription(StopHub& hub, std::function<void()> onStop) : hub_(hub) {
    std::lock_guard lock(hub_.mutex_);
    id_ = hub_.nextId_++;
    if (hub_.stopped_) {
        onStop();
    }
    hub_.subscribers_.emplace(id_, std::move(onStop));
}

StopHub::Subscription::~Subscription() {
    std::lock_guard lock(hub_.mutex_);
    hub_.subscribers_.erase(id_);
}

void StopHub::Stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    for (auto& [id, onStop] : subscribers_) {
        onStop();
    }
}

}  // namespace k5::cli
