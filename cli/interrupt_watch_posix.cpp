#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "cli/interrupt_watch.h"

namespace k5::cli {

namespace {

// Sent by the destructor to end the helper's wait. Anyone may send it, so it ends the helper
// only once the owner has asked for that; a stray one is swallowed.
constexpr int kStopSignal = SIGUSR2;

sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // A closed terminal or SSH session stops a run as Ctrl-C does.
    sigaddset(&set, SIGHUP);
    sigaddset(&set, kStopSignal);
    return set;
}

}  // namespace

struct InterruptWatch::State {
    std::function<void()> onInterrupt;
    std::atomic<bool> ending{false};
    std::thread helper;
};

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt)
    : state_(std::make_unique<State>()) {
    state_->onInterrupt = std::move(onInterrupt);
    // Blocked in this thread, and so in every thread started after it: only the helper's
    // sigwait receives them.
    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    state_->helper = std::thread([state = state_.get()] {
        const sigset_t watched = WatchedSignals();
        for (;;) {
            int received = 0;
            if (sigwait(&watched, &received) != 0) {
                continue;
            }
            if (received == kStopSignal) {
                if (state->ending.load()) {
                    return;
                }
                continue;
            }
            state->onInterrupt();
        }
    });
}

InterruptWatch::~InterruptWatch() {
    // Set before the signal goes out: the helper that receives it, or a stray one pending
    // beside it, finds it set.
    state_->ending.store(true);
    pthread_kill(state_->helper.native_handle(), kStopSignal);
    state_->helper.join();
}

}  // namespace k5::cli
