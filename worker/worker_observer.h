#pragma once

#include <cstdint>

namespace k5 {

// One report of a worker, as the window that started it receives it: a message number and
// its two parameters, as the program defines them.
struct WorkerEvent {
    uint32_t message = 0;
    uint32_t code = 0;  // wParam
    int32_t param = 0;  // lParam
    uint64_t run = 0;   // the worker run that sent it; 0 outside a WorkerRunner

    friend bool operator==(const WorkerEvent&, const WorkerEvent&) = default;
};

// Where a worker reports. The worker calls it on its own thread: a window forwards each
// event to its user-interface thread with a queued call and never makes the worker wait;
// a command-line program may act on it directly or queue it (WorkerEventQueue).
class WorkerObserver {
public:
    virtual ~WorkerObserver() = default;

    virtual void OnWorkerEvent(const WorkerEvent& event) = 0;

    // True once whoever started the worker has asked it to stop. Workers look at it where
    // they have no pause of their own on the cancel event in which to notice the request.
    virtual bool StopRequested() const { return false; }
};

}  // namespace k5
