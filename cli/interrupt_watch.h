#pragma once

#include <functional>
#include <memory>

namespace k5::cli {

// Turns Ctrl-C (on POSIX systems also SIGTERM and SIGHUP; on Windows Ctrl-Break and the
// closing of the console) into a call of `onInterrupt` on a helper thread, where it may take
// locks and set events; nothing runs inside a signal handler.
// Construct it before any other thread of the process starts. While it exists the signals no
// longer end the process; after it is gone they stay held back until the process exits. On
// POSIX systems it ends its helper with SIGUSR2; one sent by anybody else is ignored.
class InterruptWatch {
public:
    explicit InterruptWatch(std::function<void()> onInterrupt);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace k5::cli
