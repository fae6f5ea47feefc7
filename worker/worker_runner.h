#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "serialport/cancel_event.h"
#include "worker/worker_observer.h"

namespace k5 {

// Starts, stops and ends a window's one worker thread, and keeps a stopped worker's reports
// away from whatever runs next. The wizard's frame, the configuration tool's window and
// k5ctl's wizard commands each run their workers through one.
//
// Every run gets its own id and its own reporting gate. The worker reports through the gate,
// which stamps each event with the run id and passes it to the sink (the window's queued
// call) under the gate's lock. Stop() closes the gate under that lock before it sets the
// cancel event and joins the thread, so a stopped run posts nothing more: the error that a
// warm-up command broken off by the stop would report is never sent. An event the worker
// posted just before the stop may still be waiting in the receiver's queue; the receiver
// asks Accept() before it acts on an event, and Accept() answers only for the current run.
//
// A final report is acted on only after Finish() has joined the worker that sent it.
//
// Start, Stop and Finish belong to the thread that owns the window (the user-interface
// thread); Accept, Running and CurrentRun may be asked from any thread. The sink is called on
// the worker thread, with the gate locked: it must hand the event on without waiting for the
// owner and must not call back into the runner.
class WorkerRunner {
public:
    using Work = std::function<void(WorkerObserver& reporter)>;

    // How long a stopped worker may take to see the stop on its own: longer than any read or
    // write time-out of the exchanges.
    static constexpr std::chrono::milliseconds kStopGrace{1000};

    WorkerRunner(CancelEvent& cancel, WorkerObserver& sink);
    ~WorkerRunner();  // stops a running worker
    WorkerRunner(const WorkerRunner&) = delete;
    WorkerRunner& operator=(const WorkerRunner&) = delete;

    // Starts `work` on a new thread as the current run and returns its id (never 0). A run
    // still going is stopped first, and a cancel signal nobody consumed is cleared, so the
    // new run does not see its predecessor's stop.
    uint64_t Start(Work work);

    // Stops the current run: closes its gate, sets the cancel event and waits for the thread
    // to end; then clears the signal if no wait consumed it. A worker still busy after
    // kStopGrace is held up in a read or write its driver does not finish: that call is
    // broken off (and again until the worker ends), so a stop never hangs the window. Does
    // nothing when no run is current.
    void Stop();

    // The current run has sent its final report, its last act: it is no longer current, its
    // gate closes, and its thread, already on its way out, is joined before this returns.
    // Whoever acts on a final report calls this first, so nothing it then does with the
    // port can meet a worker that still uses it.
    void Finish();

    // Whether `event` comes from the current run. Events of stopped or finished runs, and
    // events not sent through a runner, answer false.
    bool Accept(const WorkerEvent& event) const;

    // A run is current: started and neither stopped nor finished.
    bool Running() const;
    uint64_t CurrentRun() const;

private:
    class Gate;
    class ThreadState;

    void JoinThread();
    // Joins a stopped worker, breaking off a read or write it is held up in.
    void JoinStopped();

    CancelEvent& cancel_;
    WorkerObserver& sink_;
    mutable std::mutex mutex_;  // guards current_ and lastRun_ against Accept from any thread
    std::shared_ptr<Gate> current_;
    uint64_t lastRun_ = 0;
    std::thread thread_;
    std::shared_ptr<ThreadState> threadState_;  // the thread's, while there is one
};

}  // namespace k5
