#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "cli/interrupt_watch.h"

namespace k5::cli {

namespace {

// The console calls its control handlers on a thread of its own, so the handler may lock
// and set events.
std::mutex gHandlerMutex;
std::condition_variable gWatchEnded;
std::function<void()>* gOnInterrupt = nullptr;

// The system ends the process a few seconds after a close event's handler was called, or
// at once when it returns; the handler holds on until the run has stopped, within that time.
constexpr auto kCloseGrace = std::chrono::milliseconds(4500);

BOOL WINAPI HandleConsoleControl(DWORD type) {
    const bool closing =
        type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT;
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && !closing) {
        return FALSE;
    }
    std::unique_lock lock(gHandlerMutex);
    if (gOnInterrupt != nullptr) {
        (*gOnInterrupt)();
        if (closing) {
            gWatchEnded.wait_for(lock, kCloseGrace, [] { return gOnInterrupt == nullptr; });
        }
    }
    return TRUE;
}

}  // namespace

struct InterruptWatch::State {
    std::function<void()> onInterrupt;
};

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt)
    : state_(std::make_unique<State>()) {
    state_->onInterrupt = std::move(onInterrupt);
    {
        std::lock_guard lock(gHandlerMutex);
        gOnInterrupt = &state_->onInterrupt;
    }
    SetConsoleCtrlHandler(HandleConsoleControl, TRUE);
}

InterruptWatch::~InterruptWatch() {
    {
        std::lock_guard lock(gHandlerMutex);
        gOnInterrupt = nullptr;
    }
    gWatchEnded.notify_all();
}

}  // namespace k5::cli
