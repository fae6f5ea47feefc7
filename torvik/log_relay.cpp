#include "torvik/log_relay.h"

#include <utility>

namespace k5::torvik {

bool LogRelay::Push(std::string_view text) {
    std::lock_guard lock(mutex_);
    const bool wasEmpty = pending_.empty();
    pending_.append(text);
    return wasEmpty && !text.empty();
}

std::string LogRelay::Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(pending_, {});
}

}  // namespace k5::torvik
