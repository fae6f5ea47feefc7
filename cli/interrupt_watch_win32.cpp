#include <windows.h>

#include <mutex>

#include "cli/interrupt_watch.h"

namespace k5::cli {

namespace {

// The console calls its control handlers on a thread of its own, so the handler may lock
// and set events.
std::mutex gHandlerMutex;
std::function<void()>* gOnInterrupt = nullptr;

BOOL WINAPI HandleConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    std::lock_guard lock(gHandlerMutex);
    if (gOnInterrupt != nullptr) {
        (*gOnInterrupt)();
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
    std::lock_guard lock(gHandlerMutex);
    gOnInterrupt = nullptr;
}

}  // namespace k5::cli
