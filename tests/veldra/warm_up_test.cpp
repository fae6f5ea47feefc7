#include "veldra/warm_up.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "veldra/event_codes.h"
#include "wizard_fixture.h"

namespace k5::veldra {
namespace {

using namespace std::chrono_literals;

using test::CountText;
using test::FirstReply;
using test::FirstRequest;
using test::RecordingObserver;
using test::SimOnLink;
using test::TextRequests;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The warm-up worker on its own thread; Join() waits for it to return.
class WarmUpWorker {
public:
    WarmUpWorker(SimOnLink& line, WorkerObserver& observer)
        : thread_([this, &line, &observer] { end_ = RunWarmUp(line.Link(), observer); }) {}
    ~WarmUpWorker() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    WarmUpEnd Join() {
        thread_.join();
        return end_;
    }

private:
    WarmUpEnd end_ = WarmUpEnd::Failed;
    std::thread thread_;
};

milliseconds Between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<milliseconds>(to - from);
}

const std::vector<std::string> kTestState = {"Main.Source=Coax1", "Dsp.Test=1k", "Main.Volume=-8"};

TEST(WarmUp, AmplifierAlreadyOnGetsTheTestStateAbout100msAfterItsPowerAnswer) {
    SimOnLink line({}, 1.0);
    ASSERT_TRUE(line.Ready());
    RecordingObserver observer;
    WarmUpWorker worker(line, observer);
    ASSERT_TRUE(observer.WaitForCode(kWarmUpRunning, 5s));
    line.Wizard().Cancel().Set();
    EXPECT_EQ(worker.Join(), WarmUpEnd::Stopped);

    const std::vector<std::string> expected = {"Main.Power?", "Main.Source=Coax1", "Dsp.Test=1k",
                                               "Main.Volume=-8"};
    EXPECT_EQ(TextRequests(line.Sim()), expected);  // never switched on
    const auto answer = FirstReply(line.Sim(), "\rMain.Power=On\r");
    const auto source = FirstRequest(line.Sim(), "Main.Source=Coax1");
    ASSERT_TRUE(answer && source);
    // 100 ms after the read of the answer ends; the read itself ends 20 ms after its last byte.
    EXPECT_GE(Between(*answer, *source), 100ms);
    EXPECT_LE(Between(*answer, *source), 300ms);
    EXPECT_EQ(observer.Codes(), (std::vector<uint32_t>{kWarmUpRunning}));
}

TEST(WarmUp, AmplifierInStandbyGetsTheTestStateAbout14sAfterTheSwitchOnEcho) {
    // A tenth of the time: the 6 s pause is 600 ms, the 14 s settle 1400 ms, then 10 ms.
    SimOnLink line({.standby = true, .switchOnDelay = 500ms}, 0.1);
    ASSERT_TRUE(line.Ready());
    RecordingObserver observer;
    WarmUpWorker worker(line, observer);
    ASSERT_TRUE(observer.WaitForCode(kWarmUpRunning, 10s));
    line.Wizard().Cancel().Set();
    EXPECT_EQ(worker.Join(), WarmUpEnd::Stopped);

    const std::vector<std::string> expected = {"Main.Power?",   "Main.Power?",
                                               "Main.Power=On", "Main.Source=Coax1",
                                               "Dsp.Test=1k",   "Main.Volume=-8"};
    EXPECT_EQ(TextRequests(line.Sim()), expected);
    const auto echo = FirstReply(line.Sim(), "\rMain.Power=On\r");
    const auto source = FirstRequest(line.Sim(), "Main.Source=Coax1");
    ASSERT_TRUE(echo && source);
    // The rest of the 600 ms pause after the echo (100 ms) and the read's tail come on top of
    // the 1410 ms.
    EXPECT_GE(Between(*echo, *source), 1410ms);
    EXPECT_LE(Between(*echo, *source), 1900ms);
    EXPECT_EQ(line.Sim().State().power, sim::Power::On);
}

// An observer that is told to stop the way a WorkerRunner tells it: the stop flag first, then
// the cancel event.
class StoppableObserver : public RecordingObserver {
public:
    bool StopRequested() const override { return stop_.load(); }
    void Stop(CancelEvent& cancel) {
        stop_ = true;
        cancel.Set();
    }

private:
    std::atomic<bool> stop_{false};
};

TEST(WarmUp, KeepAliveRepeatsPowerAndTestStateUntilStopped) {
    SimOnLink line({}, 0.05);  // a 50 ms keep-alive pause
    ASSERT_TRUE(line.Ready());
    StoppableObserver observer;
    WarmUpWorker worker(line, observer);
    ASSERT_TRUE(observer.WaitForCode(kWarmUpRunning, 5s));
    line.Sim().ClearRequests();
    ASSERT_TRUE(line.Sim().WaitForRequests(12, 5s));
    // Most likely inside a command: the command fails, and the worker takes it as the stop.
    observer.Stop(line.Wizard().Cancel());
    EXPECT_EQ(worker.Join(), WarmUpEnd::Stopped);

    const std::vector<sim::Request> requests = line.Sim().Requests();
    ASSERT_GE(requests.size(), 12u);
    const std::vector<std::string> cycle = {"Main.Power=On", "Main.Source=Coax1", "Dsp.Test=1k",
                                            "Main.Volume=-8"};
    for (size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(requests[i].text, cycle[i % 4]) << i;
    }
    // Each pass waits its pause after the last command of the one before.
    EXPECT_GE(Between(requests[3].received, requests[4].received), 50ms);
    EXPECT_GE(Between(requests[7].received, requests[8].received), 50ms);
    EXPECT_EQ(observer.Codes(), (std::vector<uint32_t>{kWarmUpRunning}));
}

TEST(WarmUp, FailingKeepAliveCommandReportsAnError) {
    SimOnLink line({});
    ASSERT_TRUE(line.Ready());
    RecordingObserver observer;
    observer.onEvent = [&](const WorkerEvent& e) {
        if (e.code == kWarmUpRunning) {
            line.Sim().Update([](sim::SimConfig& c) { c.ignorePaths = {"Dsp.Test"}; });
        }
    };
    WarmUpWorker worker(line, observer);
    EXPECT_EQ(worker.Join(), WarmUpEnd::Failed);
    EXPECT_EQ(observer.Codes(), (std::vector<uint32_t>{kWarmUpRunning, kWarmUpError}));
    for (const WorkerEvent& e : observer.Events()) {
        EXPECT_EQ(e.message, kMsgWarmUpEvent);
        EXPECT_EQ(e.param, 0);
    }
    // Two attempts at the unanswered command, and nothing after it.
    const std::vector<std::string> texts = TextRequests(line.Sim());
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 1], "Dsp.Test=1k");
    EXPECT_EQ(texts[texts.size() - 2], "Dsp.Test=1k");
}

TEST(WarmUp, UnansweredSwitchOnReportsAnError) {
    SimOnLink line({.standby = true, .ignorePaths = {"Main.Power"}});
    ASSERT_TRUE(line.Ready());
    RecordingObserver observer;
    WarmUpWorker worker(line, observer);
    EXPECT_EQ(worker.Join(), WarmUpEnd::Failed);
    EXPECT_EQ(observer.Codes(), (std::vector<uint32_t>{kWarmUpError}));
    EXPECT_EQ(CountText(line.Sim(), "Main.Power=On"), 2u);
    EXPECT_EQ(CountText(line.Sim(), "Main.Source=Coax1"), 0u);
}

TEST(WarmUp, UnansweredTestStateCommandDuringStartReportsAnError) {
    SimOnLink line({.ignorePaths = {"Main.Volume"}});
    ASSERT_TRUE(line.Ready());
    RecordingObserver observer;
    WarmUpWorker worker(line, observer);
    EXPECT_EQ(worker.Join(), WarmUpEnd::Failed);
    EXPECT_EQ(observer.Codes(), (std::vector<uint32_t>{kWarmUpError}));
}

TEST(WarmUp, StopDuringTheKeepAlivePauseEndsSilently) {
    SimOnLink line({}, 1.0);
    ASSERT_TRUE(line.Ready());
    RecordingObserver observer;
    observer.onEvent = [&](const WorkerEvent& e) {
        if (e.code == kWarmUpRunning) {
            line.Wizard().Cancel().Set();  // before the first one-second pause begins
        }
    };
    WarmUpWorker worker(line, observer);
    EXPECT_EQ(worker.Join(), WarmUpEnd::Stopped);
    EXPECT_EQ(observer.Codes(), (std::vector<uint32_t>{kWarmUpRunning}));
    EXPECT_EQ(CountText(line.Sim(), "Main.Power=On"), 0u);
    EXPECT_FALSE(line.Wizard().Cancel().IsSet());
}

TEST(WarmUp, StopDuringTheSwitchOnSettleReportsCancelled) {
    SimOnLink line({.standby = true}, 0.1);  // settle 1400 ms, after a 600 ms pause
    ASSERT_TRUE(line.Ready());
    RecordingObserver observer;
    WarmUpWorker worker(line, observer);
    ASSERT_TRUE(line.Sim().WaitForRequests(3, 5s));  // two power queries, then the switch-on
    std::this_thread::sleep_for(1200ms);
    line.Wizard().Cancel().Set();
    EXPECT_EQ(worker.Join(), WarmUpEnd::Cancelled);
    EXPECT_EQ(observer.Codes(), (std::vector<uint32_t>{kWarmUpCancelled}));
    EXPECT_EQ(CountText(line.Sim(), "Main.Source=Coax1"), 0u);
}

// Stopped while asking for the power state: the switch-on and its long pauses are skipped.
class AlreadyStopped : public RecordingObserver {
public:
    bool StopRequested() const override { return true; }
};

TEST(WarmUp, StopDuringThePowerQueryDoesNotSwitchOn) {
    SimOnLink line({.standby = true}, 1.0);
    ASSERT_TRUE(line.Ready());
    line.Wizard().Cancel().Set();
    AlreadyStopped observer;
    const auto started = Clock::now();
    WarmUpWorker worker(line, observer);
    EXPECT_EQ(worker.Join(), WarmUpEnd::Stopped);
    EXPECT_LT(Between(started, Clock::now()), 3000ms);  // not the 6 s switch-on pause
    EXPECT_TRUE(observer.Events().empty());
    EXPECT_EQ(CountText(line.Sim(), "Main.Power=On"), 0u);
}

}  // namespace
}  // namespace k5::veldra
