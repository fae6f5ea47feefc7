#pragma once

#include <memory>

namespace k5 {

// The thread that creates it, as another thread sees it: a read or write that thread is
// blocked in can be broken off from elsewhere. On Windows a port's read or write is one
// system call that only the driver ends, and a driver that never finishes one would hold
// the thread for good; Cancel() ends that call, which then fails as a cancelled transfer.
// Elsewhere every read and write waits in poll() under its own deadline and Cancel() does
// nothing.
class ThreadIoCancel {
public:
    ThreadIoCancel();  // for the calling thread
    ~ThreadIoCancel();
    ThreadIoCancel(const ThreadIoCancel&) = delete;
    ThreadIoCancel& operator=(const ThreadIoCancel&) = delete;

    // Breaks off the read or write the thread is blocked in, if any; from any other thread.
    void Cancel();

private:
    struct Native;
    std::unique_ptr<Native> native_;
};

}  // namespace k5
