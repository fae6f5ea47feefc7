#include "veldra/worker_runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <thread>

#include "veldra/calibration.h"
#include "veldra/calibration_page_model.h"
#include "veldra/event_codes.h"
#include "veldra/frame_reaction.h"
#include "veldra/warm_up.h"
#include "veldra/warm_up_page_model.h"
#include "wizard_fixture.h"

namespace k5::veldra {
namespace {

using namespace std::chrono_literals;
using test::Count;
using test::RecordingObserver;
using test::SimOnLink;

TEST(WorkerRunner, StoppedRunPostsNothingMore) {
    CancelEvent cancel;
    RecordingObserver sink;
    WorkerRunner runner(cancel, sink);
    bool stopSeen = false;
    const uint64_t run = runner.Start([&](WorkerObserver& reporter) {
        reporter.OnWorkerEvent({kMsgWarmUpEvent, kWarmUpRunning, 0});
        // Stands for a command that the stop breaks off and that then reports its failure.
        (void)cancel.WaitFor(30s);
        stopSeen = reporter.StopRequested();
        reporter.OnWorkerEvent({kMsgWarmUpEvent, kWarmUpError, 0});
    });
    ASSERT_TRUE(sink.WaitForCode(kWarmUpRunning, 5s));
    EXPECT_TRUE(runner.Running());
    runner.Stop();
    EXPECT_FALSE(runner.Running());
    EXPECT_TRUE(stopSeen);
    EXPECT_EQ(sink.Events(), (std::vector<WorkerEvent>{{kMsgWarmUpEvent, kWarmUpRunning, 0, run}}));
}

TEST(WorkerRunner, AcceptsOnlyTheCurrentRunAndLeavesNoSignalForTheNext) {
    CancelEvent cancel;
    RecordingObserver sink;
    WorkerRunner runner(cancel, sink);
    runner.Start([](WorkerObserver& r) { r.OnWorkerEvent({kMsgWarmUpEvent, kWarmUpError, 0}); });
    ASSERT_TRUE(sink.WaitForCode(kWarmUpError, 5s));
    const WorkerEvent first = sink.Events().back();
    EXPECT_TRUE(runner.Accept(first));
    runner.Stop();  // the worker had already ended: nobody consumes this stop's signal
    EXPECT_FALSE(cancel.IsSet());
    EXPECT_FALSE(runner.Accept(first));

    cancel.Set();  // a stray signal from before the start
    bool cancelledAtOnce = true;
    runner.Start([&](WorkerObserver& r) {
        cancelledAtOnce = cancel.WaitFor(0ms);
        r.OnWorkerEvent({kMsgCalibProgress, kCalibComplete, 0});
    });
    ASSERT_TRUE(sink.WaitForCode(kCalibComplete, 5s));
    const WorkerEvent second = sink.Events().back();
    EXPECT_NE(second.run, first.run);
    EXPECT_TRUE(runner.Accept(second));
    EXPECT_FALSE(runner.Accept({kMsgCalibProgress, kCalibComplete, 0, 0}));
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
        return [code](WorkerObserver& r) { r.OnWorkerEvent({kMsgCalibProgress, code, 0}); };
    };
    const uint64_t first = runner.Start(reportOnce(kCalibTick));
    ASSERT_TRUE(sink.WaitForCode(kCalibTick, 5s));
    const WorkerEvent fromFirst = sink.Events().back();
    EXPECT_EQ(fromFirst.run, first);
    EXPECT_TRUE(runner.Accept(fromFirst));

    const uint64_t second = runner.Start(reportOnce(kCalibComplete));
    EXPECT_NE(second, first);
    ASSERT_TRUE(sink.WaitForCode(kCalibComplete, 5s));
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
        r.OnWorkerEvent({kMsgCalibProgress, kCalibComplete, 0});
        std::this_thread::sleep_for(100ms);  // still on its way out
        ended = true;
    });
    ASSERT_TRUE(sink.WaitForCode(kCalibComplete, 5s));
    EXPECT_TRUE(runner.Accept(sink.Events().back()));
    runner.Finish();
    EXPECT_TRUE(ended);
    EXPECT_FALSE(runner.Running());
    EXPECT_FALSE(runner.Accept(sink.Events().back()));
}

// The frame as far as worker events go: reports arrive through a queue, as with Qt's queued
// calls, and are handled on the test's thread. Accepted events get the frame's reaction; the
// frame's own code 15 after a confirmed cancel is handled directly.
class QueuedFrame : public WorkerObserver {
public:
    explicit QueuedFrame(SimOnLink& line) : line_(line) {}

    void OnWorkerEvent(const WorkerEvent& event) override {
        std::lock_guard lock(mutex_);
        queue_.push_back(event);
    }
    bool Queued(uint32_t code) const {
        std::lock_guard lock(mutex_);
        return std::any_of(queue_.begin(), queue_.end(),
                           [&](const WorkerEvent& e) { return e.code == code; });
    }
    // Handles queued events until `code` has been acted on, or (0) until the queue is empty.
    bool Drain(uint32_t code = 0) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            std::optional<WorkerEvent> next;
            {
                std::lock_guard lock(mutex_);
                if (!queue_.empty()) {
                    next = queue_.front();
                    queue_.pop_front();
                }
            }
            if (!next && code == 0) {
                return true;
            }
            if (!next) {
                std::this_thread::sleep_for(2ms);
                continue;
            }
            if (!runner_.Accept(*next)) {
                ++dropped;
                continue;
            }
            React(*next);
            if (next->code == code) {
                return true;
            }
        }
        return false;
    }

    void StartWarmUp() {
        runner_.Start([this](WorkerObserver& r) { RunWarmUp(line_.Link(), r); });
    }
    void StartCalibration() {
        page.Show();
        runner_.Start([this](WorkerObserver& r) { RunCalibration(line_.Link(), settings, r); });
    }
    void ConfirmCancel() {
        runner_.Stop();
        React({kMsgWarmUpEvent, kWarmUpCancelled, 0});
    }
    // The countdown ran out: the frame stops the warm-up, then Next starts the calibration.
    // The keep-alive fault is cleared in between.
    void CountdownOver() {
        React({kMsgWarmUpEvent, kWarmUpFinished, 0});
        line_.Sim().Update([](sim::SimConfig& c) { c.ignorePaths.clear(); });
        line_.Link().SetTimeScale(0.01);
        StartCalibration();
    }

    int buttons = 0;
    bool warmedUp = false;
    int dropped = 0;
    ConfigSettings settings;
    WarmUpPageModel warmUpPage;
    CalibrationPageModel page;
    WorkerRunner& Runner() { return runner_; }

private:
    void React(const WorkerEvent& event) {
        const FrameReaction r = ReactionTo(event);
        if (r.mute) {
            MuteAmplifier(line_.Link());
        }
        if (r.forward && event.message == kMsgWarmUpEvent) {
            warmUpPage.Apply(event.code);
        } else if (r.forward) {
            page.Apply(event.code);
        }
        buttons = r.buttons.value_or(buttons);
        warmedUp = warmedUp || r.setWarmedUp;
        if (r.stopWorker) {
            runner_.Stop();
        }
        if (r.endWorker) {
            runner_.Finish();
        }
        if (r.closePort) {
            line_.Wizard().Port().Close();
        }
    }

    SimOnLink& line_;
    mutable std::mutex mutex_;
    std::deque<WorkerEvent> queue_;
    WorkerRunner runner_{line_.Wizard().Cancel(), *this};
};

// Starts the warm-up and lets its keep-alive fail; returns once the error is on its way
// (queued) or, with `waitForQueue` false, once the failing command is being tried.
void WarmUpWithFailingKeepAlive(SimOnLink& line, QueuedFrame& frame, bool waitForQueue) {
    frame.StartWarmUp();
    ASSERT_TRUE(frame.Drain(kWarmUpRunning));
    line.Sim().Update([](sim::SimConfig& c) { c.ignorePaths = {"Dsp.Test"}; });
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (waitForQueue ? !frame.Queued(kWarmUpError) : Count(line.Sim(), "Dsp.Test=1k") < 2) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        std::this_thread::sleep_for(1ms);
    }
}

size_t MuteCommands(const sim::Simulator& sim) {
    return Count(sim, "Main.Volume=-20") + Count(sim, "Main.Mute=On");
}

// The error was queued just before the countdown ran out; the calibration that follows on
// the same port must not be muted or lose its port.
TEST(LateWarmUpReport, ErrorQueuedBeforeTheCountdownEndIsDropped) {
    SimOnLink line({.left = 760, .right = 760});
    ASSERT_TRUE(line.Ready());
    QueuedFrame frame(line);
    WarmUpWithFailingKeepAlive(line, frame, true);
    frame.CountdownOver();
    ASSERT_TRUE(frame.Drain(kCalibComplete));
    EXPECT_EQ(frame.dropped, 1);
    EXPECT_EQ(MuteCommands(line.Sim()), 0u);
    EXPECT_TRUE(frame.warmedUp);
    EXPECT_EQ(frame.warmUpPage.Outcome(), "");
    EXPECT_EQ(frame.page.Position(), 100);
    EXPECT_TRUE(frame.page.Log().ends_with(
        "\n\rK5 Calibration is successful.Now power off the K5...  OK\n\r"));
    EXPECT_EQ(frame.buttons, kButtonPrevious | kButtonExit);
    EXPECT_EQ(line.Sim().State().power, sim::Power::Standby);
}

// The stop breaks off a keep-alive command waiting for its answer: its failure is never
// posted at all.
TEST(LateWarmUpReport, CommandBrokenOffByTheStopPostsNothing) {
    SimOnLink line({.left = 760, .right = 760}, 1.0);
    ASSERT_TRUE(line.Ready());
    QueuedFrame frame(line);
    WarmUpWithFailingKeepAlive(line, frame, false);
    frame.CountdownOver();
    EXPECT_FALSE(frame.Queued(kWarmUpError));
    ASSERT_TRUE(frame.Drain(kCalibComplete));
    EXPECT_EQ(frame.dropped, 0);
    EXPECT_EQ(MuteCommands(line.Sim()), 0u);
    EXPECT_EQ(frame.page.Position(), 100);
}

// The error was queued just before the user confirmed cancelling: the cancelled state
// stands, and Next calibrates on the port that is still open.
TEST(LateWarmUpReport, ErrorQueuedBeforeAConfirmedCancelIsDropped) {
    SimOnLink line({.left = 760, .right = 760});
    ASSERT_TRUE(line.Ready());
    QueuedFrame frame(line);
    WarmUpWithFailingKeepAlive(line, frame, true);
    line.Sim().Update([](sim::SimConfig& c) { c.ignorePaths.clear(); });
    frame.ConfirmCancel();
    ASSERT_TRUE(frame.Drain());
    EXPECT_EQ(frame.dropped, 1);
    EXPECT_EQ(frame.buttons, kButtonPrevious | kButtonNext | kButtonExit);
    EXPECT_EQ(line.Wizard().Port().IsOpen(), 1);
    EXPECT_EQ(frame.warmUpPage.Outcome(),
              "Warm up cancelled.\n\rPress Next to start the calibration manually or press "
              "Previous to try again.\n\r");
    EXPECT_EQ(MuteCommands(line.Sim()), 2u);  // the cancel's own mute, once
    frame.StartCalibration();
    ASSERT_TRUE(frame.Drain(kCalibComplete));
    EXPECT_EQ(frame.page.Position(), 100);
}

// Without a stop, the warm-up's error reaches the frame: it mutes, closes the port and
// leaves Previous and Exit.
TEST(LateWarmUpReport, ErrorOfTheCurrentRunIsActedOn) {
    SimOnLink line({});
    ASSERT_TRUE(line.Ready());
    QueuedFrame frame(line);
    frame.StartWarmUp();
    ASSERT_TRUE(frame.Drain(kWarmUpRunning));
    EXPECT_EQ(frame.buttons, kButtonExit);
    line.Sim().Update([](sim::SimConfig& c) { c.ignorePaths = {"Dsp.Test"}; });
    ASSERT_TRUE(frame.Drain(kWarmUpError));
    EXPECT_EQ(frame.buttons, kButtonPrevious | kButtonExit);
    EXPECT_EQ(line.Wizard().Port().IsOpen(), 0);
    EXPECT_EQ(frame.warmUpPage.Outcome(),
              "Warm up error.Please double check the connection to the PC and the COM port "
              "selection then try again.\n\r");
    EXPECT_EQ(Count(line.Sim(), "Main.Mute=On"), 1u);
    EXPECT_FALSE(frame.Runner().Running());
}

}  // namespace
}  // namespace k5::veldra
