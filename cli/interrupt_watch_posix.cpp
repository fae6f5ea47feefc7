#include <pthread.h>
#include <signal.h>

#include <thread>

#include "cli/interrupt_watch.h"

namespace k5::cli {

namespace {

// Sent by the destructor to end the helper's wait.
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
                return;
            }
            state->onInterrupt();
        }
    });
}

InterruptWatch::~InterruptWatch() {
    pthread_kill(state_->helper.native_handle(), kStopSignal);
    state_->helper.join();
}

}  // namespace k5::cli
