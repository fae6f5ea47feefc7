#include "worker/worker_runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/worker/recording_observer.h"

namespace k5 {
namespace {

using namespace std::chrono_literals;
using test::RecordingObserver;

// A worker's reports: one message with a start, an error, a tick and a final code.
constexpr uint32_t kMsgProgress = 0x502;
constexpr uint32_t kStarted = 16;
constexpr uint32_t kError = 14;
constexpr uint32_t kTick = 13;
constexpr uint32_t kComplete = 12;

TEST(WorkerRunner, StoppedRunPostsNothingMore) {
    CancelEvent cancel;
    RecordingObserver sink;
    WorkerRunner runner(cancel, sink);
    bool stopSeen = false;
    const uint64_t run = runner.Start([&](WorkerObserver& reporter) {
        reporter.OnWorkerEvent({kMsgProgress, kStarted, 0});
        // Stands for a command that the stop breaks off and that then reports its failure.
        (void)cancel.WaitFor(30s);
        stopSeen = reporter.StopRequested();
        reporter.OnWorkerEvent({kMsgProgress, kError, 0});
    });
    ASSERT_TRUE(sink.WaitForCode(kStarted, 5s));
    EXPECT_TRUE(runner.Running());
    runner.Stop();
    EXPECT_FALSE(runner.Running());
    EXPECT_TRUE(stopSeen);
    EXPECT_EQ(sink.Events(), (std::vector<WorkerEvent>{{kMsgProgress, kStarted, 0, run}}));
}

TEST(WorkerRunner, AcceptsOnlyTheCurrentRunAndLeavesNoSignalForTheNext) {
    CancelEvent cancel;
    RecordingObserver sink;
    WorkerRunner runner(cancel, sink);
    runner.Start([](WorkerObserver& r) { r.OnWorkerEvent({kMsgProgress, kError, 0}); });
    ASSERT_TRUE(sink.WaitForCode(kError, 5s));
    const WorkerEvent first = sink.Events().back();
    EXPECT_TRUE(runner.Accept(first));
    runner.Stop();  // the worker had already ended: nobody consumes this stop's signal
    EXPECT_FALSE(cancel.IsSet());
    EXPECT_FALSE(runner.Accept(first));

    cancel.Set();  // a stray signal from before the start
    bool cancelledAtOnce = true;
    runner.Start([&](WorkerObserver& r) {
        cancelledAtOnce = cancel.WaitFor(0ms);
        r.OnWorkerEvent({kMsgProgress, kComplete, 0});
    });
    ASSERT_TRUE(sink.WaitForCode(kComplete, 5s));
    const WorkerEvent second = sink.Events().back();
    EXPECT_NE(second.run, first.run);
    EXPECT_TRUE(runner.Accept(second));
    EXPECT_FALSE(runner.Accept({kMsgProgress, kComplete, 0, 0}));
    runner.Finish();  // its final report handled
    EXPECT_FALSE(runner.Accept(second));
    EXPECT_FALSE(cancelledAtOnce);
}

// A new run supersedes the one before even without a stop; once its final report has been
// handled there is nothing current left to stop.
TEST(WorkerRunner, StartingAnotherRunSupersedesTheFirst) {
    CancelEvent cancel;
    RecordingObserver sink;
    WorkerRunner runner(cancel, sink);
    auto reportOnce = [](uint32_t code) {
        return [code](WorkerObserver& r) { r.OnWorkerEvent({kMsgProgress, code, 0}); };
    };
    const uint64_t first = runner.Start(reportOnce(kTick));
    ASSERT_TRUE(sink.WaitForCode(kTick, 5s));
    const WorkerEvent fromFirst = sink.Events().back();
    EXPECT_EQ(fromFirst.run, first);
    EXPECT_TRUE(runner.Accept(fromFirst));

    const uint64_t second = runner.Start(reportOnce(kComplete));
    EXPECT_NE(second, first);
    ASSERT_TRUE(sink.WaitForCode(kComplete, 5s));
    const WorkerEvent fromSecond = sink.Events().back();
    EXPECT_EQ(fromSecond.run, second);
    EXPECT_FALSE(runner.Accept(fromFirst));
    EXPECT_TRUE(runner.Accept(fromSecond));

    runner.Finish();
    EXPECT_FALSE(runner.Running());
    runner.Stop();  // nothing current: no signal is left behind
    EXPECT_FALSE(cancel.IsSet());
}

// Whoever acts on a final report (closes the port, mutes) does so after Finish(): by then the
// worker that sent it has ended, however long it takes over its return.
TEST(WorkerRunner, FinishReturnsOnlyOnceTheReportingWorkerHasEnded) {
    CancelEvent cancel;
    RecordingObserver sink;
    WorkerRunner runner(cancel, sink);
    std::atomic<bool> ended{false};
    runner.Start([&](WorkerObserver& r) {
        r.OnWorkerEvent({kMsgProgress, kComplete, 0});
        std::this_thread::sleep_for(100ms);  // still on its way out
        ended = true;
    });
    ASSERT_TRUE(sink.WaitForCode(kComplete, 5s));
    EXPECT_TRUE(runner.Accept(sink.Events().back()));
    runner.Finish();
    EXPECT_TRUE(ended);
    EXPECT_FALSE(runner.Running());
    EXPECT_FALSE(runner.Accept(sink.Events().back()));
}

}  // namespace
}  // namespace k5
