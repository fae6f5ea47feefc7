#include "veldra/worker_runner.h"

#include <gtest/gtest.h>

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

using test::CountText;
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
        (void)cancel.WaitFor(std::chrono::seconds(30));
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

TEST(WorkerRunner, AcceptsOnlyEventsOfTheCurrentRun) {
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
    EXPECT_FALSE(runner.Accept(fromFirst));
    EXPECT_TRUE(runner.Accept(fromSecond));
    EXPECT_FALSE(runner.Accept({kMsgCalibProgress, kCalibComplete, 0, 0}));

    runner.Finish();  // the final report has been handled
    EXPECT_FALSE(runner.Running());
    EXPECT_FALSE(runner.Accept(fromSecond));
    runner.Stop();  // nothing current: no signal is left behind
    EXPECT_FALSE(cancel.IsSet());
}

TEST(WorkerRunner, NextRunDoesNotInheritAStopNobodyConsumed) {
    CancelEvent cancel;
    RecordingObserver sink;
    WorkerRunner runner(cancel, sink);
    runner.Start([](WorkerObserver& r) { r.OnWorkerEvent({kMsgWarmUpEvent, kWarmUpError, 0}); });
    ASSERT_TRUE(sink.WaitForCode(kWarmUpError, 5s));
    // The frame stops a worker that has already ended (its report still queued).
    runner.Stop();
    EXPECT_FALSE(cancel.IsSet());

    cancel.Set();  // a stray signal from before the start
    bool cancelledAtOnce = true;
    runner.Start([&](WorkerObserver& r) {
        cancelledAtOnce = cancel.WaitFor(std::chrono::milliseconds(0));
        r.OnWorkerEvent({kMsgCalibProgress, kCalibComplete, 0});
    });
    ASSERT_TRUE(sink.WaitForCode(kCalibComplete, 5s));
    runner.Finish();
    runner.Stop();
    EXPECT_FALSE(cancelledAtOnce);
}

// The frame as far as worker events go: reports arrive through a queue, as with Qt's queued
// calls, and are handled when the test drains it, on the test's thread. Accepted events get
// the frame's reaction; the warm-up's own code 15 after a confirmed cancel is handled
// directly, without the queue.
class QueuedFrame : public WorkerObserver {
public:
    explicit QueuedFrame(WizardLink& wizard) : wizard_(wizard) {}

    void OnWorkerEvent(const WorkerEvent& event) override {
        std::lock_guard lock(mutex_);
        queue_.push_back(event);
    }

    WorkerRunner& Runner() { return runner_; }

    bool Queued(uint32_t code) const {
        std::lock_guard lock(mutex_);
        for (const WorkerEvent& e : queue_) {
            if (e.code == code) {
                return true;
            }
        }
        return false;
    }

    // Handles queued events until `code` has been handled or `timeout` passes.
    bool DrainUntil(uint32_t code, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            std::optional<WorkerEvent> next;
            {
                std::lock_guard lock(mutex_);
                if (!queue_.empty()) {
                    next = queue_.front();
                    queue_.pop_front();
                }
            }
            if (!next) {
                std::this_thread::sleep_for(2ms);
                continue;
            }
            if (Handle(*next) && next->code == code) {
                return true;
            }
        }
        return false;
    }

    // Handles everything queued so far.
    void DrainAll() {
        for (;;) {
            std::optional<WorkerEvent> next;
            {
                std::lock_guard lock(mutex_);
                if (queue_.empty()) {
                    return;
                }
                next = queue_.front();
                queue_.pop_front();
            }
            Handle(*next);
        }
    }

    void StartWarmUp() {
        warmUpPage.Show();
        buttons = 0;
        runner_.Start([this](WorkerObserver& r) { RunWarmUp(wizard_.Link(), r); });
    }
    void StartCalibration() {
        calibrationPage.Show();
        buttons = kButtonExit;
        runner_.Start([this](WorkerObserver& r) { RunCalibration(wizard_.Link(), settings, r); });
    }
    // The user confirmed cancelling the warm-up.
    void ConfirmCancel() {
        runner_.Stop();
        React({kMsgWarmUpEvent, kWarmUpCancelled, 0});
    }
    // The countdown ran out: stop the warm-up, then Next starts the calibration.
    // `betweenRuns` runs after the warm-up has been stopped, before the calibration starts.
    void CountdownOver(const std::function<void()>& betweenRuns = {}) {
        React({kMsgWarmUpEvent, kWarmUpFinished, 0});
        if (betweenRuns) {
            betweenRuns();
        }
        StartCalibration();
    }

    int buttons = 0;
    bool warmedUp = false;
    int dropped = 0;
    ConfigSettings settings;
    WarmUpPageModel warmUpPage;
    CalibrationPageModel calibrationPage;

private:
    bool Handle(const WorkerEvent& event) {
        if (!runner_.Accept(event)) {
            ++dropped;
            return false;
        }
        React(event);
        return true;
    }

    void React(const WorkerEvent& event) {
        const FrameReaction r = ReactionTo(event);
        if (r.mute) {
            MuteAmplifier(wizard_.Link());
        }
        if (r.forward) {
            if (event.message == kMsgWarmUpEvent) {
                warmUpPage.Apply(event.code);
            } else if (event.message == kMsgCalibProgress) {
                calibrationPage.Apply(event.code);
            }
        }
        if (r.buttons) {
            buttons = *r.buttons;
        }
        warmedUp = warmedUp || r.setWarmedUp;
        if (r.stopWorker) {
            runner_.Stop();
        }
        if (r.endWorker) {
            runner_.Finish();
        }
        if (r.closePort) {
            wizard_.Port().Close();
        }
    }

    WizardLink& wizard_;
    mutable std::mutex mutex_;
    std::deque<WorkerEvent> queue_;
    WorkerRunner runner_{wizard_.Cancel(), *this};
};

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

size_t MuteCommands(const sim::Simulator& sim) {
    return CountText(sim, "Main.Volume=-20") + CountText(sim, "Main.Mute=On");
}

const std::vector<std::string> kNoPaths;

// The warm-up reported an error just before the countdown ran out; the report is still in
// the queue when the frame stops the warm-up and starts the calibration on the same port.
TEST(LateWarmUpReport, ErrorQueuedBeforeTheCountdownEndDoesNotTouchTheCalibration) {
    SimOnLink line({.left = 760, .right = 760});
    ASSERT_TRUE(line.Ready());
    QueuedFrame frame(line.Wizard());
    frame.StartWarmUp();
    ASSERT_TRUE(frame.DrainUntil(kWarmUpRunning, 5s));
    line.Sim().Update([](sim::SimConfig& c) { c.ignorePaths = {"Dsp.Test"}; });
    ASSERT_TRUE(WaitUntil([&] { return frame.Queued(kWarmUpError); }, 5s));

    line.Sim().Update([](sim::SimConfig& c) { c.ignorePaths = kNoPaths; });
    frame.CountdownOver();
    ASSERT_TRUE(frame.DrainUntil(kCalibComplete, 20s));

    EXPECT_EQ(frame.dropped, 1);
    EXPECT_EQ(MuteCommands(line.Sim()), 0u);
    EXPECT_TRUE(frame.warmedUp);
    EXPECT_EQ(frame.warmUpPage.Outcome(), "");  // no error text on the warm-up page
    EXPECT_TRUE(frame.calibrationPage.Log().ends_with(
        "\n\rK5 Calibration is successful.Now power off the K5...  OK\n\r"));
    EXPECT_EQ(frame.buttons, kButtonPrevious | kButtonExit);
    EXPECT_EQ(line.Sim().State().power, sim::Power::Standby);
}

// The stop breaks off a keep-alive command that is waiting for its answer: the worker's
// failure is never reported, and the calibration that follows runs undisturbed.
TEST(LateWarmUpReport, CommandBrokenOffByTheStopReportsNothing) {
    SimOnLink line({.left = 760, .right = 760}, 1.0);
    ASSERT_TRUE(line.Ready());
    QueuedFrame frame(line.Wizard());
    frame.StartWarmUp();
    ASSERT_TRUE(frame.DrainUntil(kWarmUpRunning, 5s));
    line.Sim().Update([](sim::SimConfig& c) { c.ignorePaths = {"Dsp.Test"}; });
    // The keep-alive pass comes a second later; its test-tone command goes unanswered.
    ASSERT_TRUE(WaitUntil([&] { return CountText(line.Sim(), "Dsp.Test=1k") >= 2; }, 5s));

    line.Sim().Update([](sim::SimConfig& c) { c.ignorePaths = kNoPaths; });
    // Only the calibration's pauses are shortened.
    frame.CountdownOver([&] { line.Link().SetTimeScale(0.01); });
    EXPECT_FALSE(frame.Queued(kWarmUpError));
    ASSERT_TRUE(frame.DrainUntil(kCalibComplete, 20s));
    EXPECT_EQ(frame.dropped, 0);
    EXPECT_EQ(MuteCommands(line.Sim()), 0u);
    EXPECT_EQ(frame.calibrationPage.Position(), 100);
}

// An error queued just before the user confirmed cancelling: the cancelled state stands,
// with the port open for a calibration started by Next.
TEST(LateWarmUpReport, ErrorQueuedBeforeAConfirmedCancelLeavesTheCancelledState) {
    SimOnLink line({.left = 760, .right = 760});
    ASSERT_TRUE(line.Ready());
    QueuedFrame frame(line.Wizard());
    frame.StartWarmUp();
    ASSERT_TRUE(frame.DrainUntil(kWarmUpRunning, 5s));
    line.Sim().Update([](sim::SimConfig& c) { c.ignorePaths = {"Dsp.Test"}; });
    ASSERT_TRUE(WaitUntil([&] { return frame.Queued(kWarmUpError); }, 5s));
    line.Sim().Update([](sim::SimConfig& c) { c.ignorePaths = kNoPaths; });

    frame.ConfirmCancel();
    frame.DrainAll();
    EXPECT_EQ(frame.dropped, 1);
    EXPECT_EQ(frame.buttons, kButtonPrevious | kButtonNext | kButtonExit);
    EXPECT_TRUE(frame.warmedUp);
    EXPECT_EQ(line.Wizard().Port().IsOpen(), 1);
    EXPECT_EQ(frame.warmUpPage.Outcome(),
              "Warm up cancelled.\n\rPress Next to start the calibration manually or press "
              "Previous to try again.\n\r");
    EXPECT_EQ(CountText(line.Sim(), "Main.Volume=-20"), 1u);  // the cancel's own mute, once

    // Next: the calibration on the port that is still open.
    frame.StartCalibration();
    ASSERT_TRUE(frame.DrainUntil(kCalibComplete, 20s));
    EXPECT_EQ(frame.calibrationPage.Position(), 100);
}

// Without a stop, the warm-up's error reaches the frame: it mutes, closes the port and
// leaves Previous and Exit.
TEST(LateWarmUpReport, ErrorOfTheCurrentRunIsActedOn) {
    SimOnLink line({});
    ASSERT_TRUE(line.Ready());
    QueuedFrame frame(line.Wizard());
    frame.StartWarmUp();
    ASSERT_TRUE(frame.DrainUntil(kWarmUpRunning, 5s));
    EXPECT_EQ(frame.buttons, kButtonExit);
    line.Sim().Update([](sim::SimConfig& c) { c.ignorePaths = {"Dsp.Test"}; });
    ASSERT_TRUE(frame.DrainUntil(kWarmUpError, 5s));
    EXPECT_EQ(frame.buttons, kButtonPrevious | kButtonExit);
    EXPECT_EQ(line.Wizard().Port().IsOpen(), 0);
    EXPECT_EQ(CountText(line.Sim(), "Main.Mute=On"), 1u);
    EXPECT_FALSE(frame.Runner().Running());
}

}  // namespace
}  // namespace k5::veldra
