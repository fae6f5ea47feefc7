#pragma once

#include <QMetaObject>

#include "worker/worker_observer.h"

namespace k5::qtkit {

// Hands a worker's reports to a window's thread without ever waiting for it, so that the
// window can stop and join the worker while it is still reporting; the runner calls it on
// the worker thread. A call still queued when the window goes is dropped with it.
template <typename Window>
class QueuedWorkerSink : public WorkerObserver {
public:
    explicit QueuedWorkerSink(Window& window) : window_(window) {}

    void OnWorkerEvent(const WorkerEvent& event) override {
        Window* window = &window_;
        QMetaObject::invokeMethod(
            window, [window, event] { window->OnWorkerEvent(event); }, Qt::QueuedConnection);
    }

private:
    Window& window_;
};

}  // namespace k5::qtkit
