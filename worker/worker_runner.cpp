#include "worker/worker_runner.h"

#include <chrono>
#include <condition_variable>
#include <utility>

#include "worker/thread_io_cancel.h"

namespace k5 {

// What a worker reports through: open until the run is stopped.
class WorkerRunner::Gate : public WorkerObserver {
public:
    Gate(uint64_t run, WorkerObserver& sink) : run_(run), sink_(sink) {}

    uint64_t Run() const { return run_; }

    void OnWorkerEvent(const WorkerEvent& event) override {
        std::lock_guard lock(mutex_);
        if (!open_) {
            return;
        }
        WorkerEvent stamped = event;
        stamped.run = run_;
        // Under the lock: once Close() has returned, no post is half-way through.
        sink_.OnWorkerEvent(stamped);
    }

    bool StopRequested() const override {
        std::lock_guard lock(mutex_);
        return !open_;
    }

    void Close() {
        std::lock_guard lock(mutex_);
        open_ = false;
    }

private:
    const uint64_t run_;
    WorkerObserver& sink_;
    mutable std::mutex mutex_;
    bool open_ = true;
};

// Whether the worker thread has ended its work, and the way to break off its read or write.
class WorkerRunner::ThreadState {
public:
    // On the worker thread, first and last.
    void Begin() {
        std::lock_guard lock(mutex_);
        io_ = std::make_unique<ThreadIoCancel>();
    }
    void End() {
        std::lock_guard lock(mutex_);
        ended_ = true;
        endedChanged_.notify_all();
    }

    // Whether the work ended within `wait`.
    bool WaitEnd(std::chrono::milliseconds wait) {
        std::unique_lock lock(mutex_);
        return endedChanged_.wait_for(lock, wait, [this] { return ended_; });
    }

    void CancelIo() {
        std::lock_guard lock(mutex_);
        if (io_ && !ended_) {
            io_->Cancel();
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable endedChanged_;
    bool ended_ = false;
    std::unique_ptr<ThreadIoCancel> io_;
};

WorkerRunner::WorkerRunner(CancelEvent& cancel, WorkerObserver& sink)
    : cancel_(cancel), sink_(sink) {}

WorkerRunner::~WorkerRunner() {
    Stop();
    JoinThread();
}

uint64_t WorkerRunner::Start(Work work) {
    Stop();
    JoinThread();
    (void)cancel_.WaitFor(std::chrono::nanoseconds::zero());
    std::shared_ptr<Gate> gate;
    {
        std::lock_guard lock(mutex_);
        gate = std::make_shared<Gate>(++lastRun_, sink_);
        current_ = gate;
    }
    auto state = std::make_shared<ThreadState>();
    threadState_ = state;
    thread_ = std::thread([gate, state, work = std::move(work)] {
        state->Begin();
        work(*gate);
        state->End();
    });
    return gate->Run();
}

void WorkerRunner::Stop() {
    std::shared_ptr<Gate> gate;
    {
        std::lock_guard lock(mutex_);
        gate = std::exchange(current_, nullptr);
    }
    if (!gate) {
        return;
    }
    gate->Close();
    cancel_.Set();
    JoinStopped();
    // A worker that had already ended consumed nothing; the next run must not start
    // cancelled.
    (void)cancel_.WaitFor(std::chrono::nanoseconds::zero());
}

void WorkerRunner::Finish() {
    std::shared_ptr<Gate> gate;
    {
        std::lock_guard lock(mutex_);
        gate = std::exchange(current_, nullptr);
    }
    if (gate) {
        gate->Close();
    }
    // The worker sends nothing after its final report and waits for nobody, so the join
    // takes only as long as its return.
    JoinThread();
}

bool WorkerRunner::Accept(const WorkerEvent& event) const {
    std::lock_guard lock(mutex_);
    return current_ != nullptr && event.run == current_->Run();
}

bool WorkerRunner::Running() const {
    std::lock_guard lock(mutex_);
    return current_ != nullptr;
}

uint64_t WorkerRunner::CurrentRun() const {
    std::lock_guard lock(mutex_);
    return current_ ? current_->Run() : 0;
}

void WorkerRunner::JoinStopped() {
    if (threadState_ && !threadState_->WaitEnd(kStopGrace)) {
        // Each pass breaks off the call it finds; a worker on its way out may start one more.
        constexpr std::chrono::milliseconds kBetweenCancels{100};
        do {
            threadState_->CancelIo();
        } while (!threadState_->WaitEnd(kBetweenCancels));
    }
    JoinThread();
}

void WorkerRunner::JoinThread() {
    if (thread_.joinable()) {
        thread_.join();
    }
    threadState_.reset();
}

}  // namespace k5
