#include "worker/worker_runner.h"

#include <chrono>
#include <utility>

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
    thread_ = std::thread([gate, work = std::move(work)] { work(*gate); });
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
    JoinThread();
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

void WorkerRunner::JoinThread() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

}  // namespace k5
