#include "veldra/warm_up.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "veldra/event_codes.h"
#include "wizard_fixture.h"

namespace k5::veldra {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using test::Count;
using test::SimOnLink;
using test::Texts;

// Told to stop the way a WorkerRunner tells it: the stop flag first, then the cancel event.
class Observer : public test::RecordingObserver {
public:
    bool StopRequested() const override { return stop_; }
    void Stop(CancelEvent& cancel) {
        stop_ = true;
        cancel.Set();
    }

private:
    std::atomic<bool> stop_{false};
};

// The warm-up worker on its own thread.
class WarmUpWorker {
public:
    WarmUpWorker(SimOnLink& line, Observer& observer)
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

milliseconds FromAnswerToTestState(const sim::Simulator& sim) {
    const auto answer = test::Answered(sim, "\rMain.Power=On\r");
    const auto source = test::Received(sim, "Main.Source=Coax1");
    EXPECT_TRUE(answer && source);
    return answer && source ? std::chrono::duration_cast<milliseconds>(*source - *answer) : 0ms;
}

TEST(WarmUp, AmplifierAlreadyOnGetsTheTestStateAbout100msAfterItsPowerAnswer) {
    SimOnLink line({}, 1.0);
    ASSERT_TRUE(line.Ready());
    Observer observer;
    WarmUpWorker worker(line, observer);
    ASSERT_TRUE(observer.WaitForCode(kWarmUpRunning, 5s));
    observer.Stop(line.Wizard().Cancel());
    EXPECT_EQ(worker.Join(), WarmUpEnd::Stopped);
    EXPECT_EQ(Texts(line.Sim()), (std::vector<std::string>{"Main.Power?", "Main.Source=Coax1",
                                                           "Dsp.Test=1k", "Main.Volume=-8"}));
    // The read of the answer ends 20 ms after it; then the 100 ms pause.
    EXPECT_GE(FromAnswerToTestState(line.Sim()), 100ms);
    EXPECT_LE(FromAnswerToTestState(line.Sim()), 300ms);
    EXPECT_EQ(observer.Codes(), std::vector<uint32_t>{kWarmUpRunning});
}

TEST(WarmUp, AmplifierInStandbyGetsTheTestStateAbout14sAfterTheSwitchOnEcho) {
    // A tenth of the time: a 600 ms switch-on pause, then 1400 ms and 10 ms.
    SimOnLink line({.standby = true, .switchOnDelay = 500ms}, 0.1);
    ASSERT_TRUE(line.Ready());
    Observer observer;
    WarmUpWorker worker(line, observer);
    ASSERT_TRUE(observer.WaitForCode(kWarmUpRunning, 10s));
    observer.Stop(line.Wizard().Cancel());
    EXPECT_EQ(worker.Join(), WarmUpEnd::Stopped);
    const std::vector<std::string> texts = Texts(line.Sim());
    ASSERT_GE(texts.size(), 6u);  // a keep-alive pass may follow before the stop
    EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 6),
              (std::vector<std::string>{"Main.Power?", "Main.Power?", "Main.Power=On",
                                        "Main.Source=Coax1", "Dsp.Test=1k", "Main.Volume=-8"}));
    // On top of the 1410 ms: what is left of the pause after the echo, and the read's tail.
    EXPECT_GE(FromAnswerToTestState(line.Sim()), 1410ms);
    EXPECT_LE(FromAnswerToTestState(line.Sim()), 1900ms);
    EXPECT_EQ(line.Sim().State().power, sim::Power::On);
}

TEST(WarmUp, KeepAliveRepeatsPowerAndTestStateUntilStopped) {
    SimOnLink line({}, 0.05);  // a 50 ms keep-alive pause
    ASSERT_TRUE(line.Ready());
    Observer observer;
    WarmUpWorker worker(line, observer);
    // The power query and the test state, then three keep-alive passes.
    ASSERT_TRUE(line.Sim().WaitForRequests(4 + 12, 5s));
    // Most likely inside a command: the command fails, and the worker takes it as the stop.
    observer.Stop(line.Wizard().Cancel());
    EXPECT_EQ(worker.Join(), WarmUpEnd::Stopped);
    EXPECT_EQ(observer.Codes(), std::vector<uint32_t>{kWarmUpRunning});

    const std::vector<sim::Request> requests = line.Sim().Requests();
    ASSERT_GE(requests.size(), 4u + 12u);
    const std::string cycle[] = {"Main.Power=On", "Main.Source=Coax1", "Dsp.Test=1k",
                                 "Main.Volume=-8"};
    for (size_t i = 4; i < 4 + 12; ++i) {
        EXPECT_EQ(requests[i].text, cycle[i % 4]) << i;
    }
    // Each pass waits its pause after the last command of the one before.
    for (size_t last : {3u, 7u, 11u}) {
        EXPECT_GE(requests[last + 1].received - requests[last].received, 50ms) << last;
    }
}

TEST(WarmUp, StopSeenInTheKeepAlivePauseEndsSilently) {
    // The cancel signal alone, set as 16 goes out: the one-second pause is what sees it.
    SimOnLink line({}, 1.0);
    ASSERT_TRUE(line.Ready());
    Observer observer;
    observer.onEvent = [&](const WorkerEvent&) { line.Wizard().Cancel().Set(); };
    WarmUpWorker worker(line, observer);
    EXPECT_EQ(worker.Join(), WarmUpEnd::Stopped);
    EXPECT_EQ(observer.Codes(), std::vector<uint32_t>{kWarmUpRunning});
    EXPECT_EQ(Count(line.Sim(), "Main.Power=On"), 0u);
    EXPECT_FALSE(line.Wizard().Cancel().IsSet());  // the pause consumed the signal
}

TEST(WarmUp, FailingCommandsReportAnError) {
    // Two attempts at the unanswered command, and nothing after it: an unanswered switch-on
    // sends no test state.
    const std::pair<sim::SimConfig, std::vector<std::string>> faults[] = {
        {{.standby = true, .ignorePaths = {"Main.Power"}},
         {"Main.Power?", "Main.Power?", "Main.Power=On", "Main.Power=On"}},
        {{.ignorePaths = {"Main.Volume"}},
         {"Main.Power?", "Main.Source=Coax1", "Dsp.Test=1k", "Main.Volume=-8", "Main.Volume=-8"}},
    };
    for (const auto& [fault, sent] : faults) {
        SimOnLink line(fault);
        ASSERT_TRUE(line.Ready());
        Observer observer;
        WarmUpWorker worker(line, observer);
        EXPECT_EQ(worker.Join(), WarmUpEnd::Failed);
        EXPECT_EQ(observer.Events(),
                  (std::vector<WorkerEvent>{{kMsgWarmUpEvent, kWarmUpError, 0}}));
        EXPECT_TRUE(line.Sim().WaitForRequests(sent.size(), 2s));
        EXPECT_EQ(Texts(line.Sim()), sent);
    }

    // A keep-alive pass repeats the power command and the test state; two attempts at the
    // unanswered command, then 14 and nothing more.
    SimOnLink line({});
    ASSERT_TRUE(line.Ready());
    Observer observer;
    observer.onEvent = [&](const WorkerEvent&) {
        line.Sim().Update([](sim::SimConfig& c) { c.ignorePaths = {"Dsp.Test"}; });
    };
    WarmUpWorker worker(line, observer);
    EXPECT_EQ(worker.Join(), WarmUpEnd::Failed);
    EXPECT_EQ(observer.Events(), (std::vector<WorkerEvent>{{kMsgWarmUpEvent, kWarmUpRunning, 0},
                                                           {kMsgWarmUpEvent, kWarmUpError, 0}}));
    const std::vector<std::string> texts = Texts(line.Sim());
    ASSERT_EQ(texts.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(texts.begin() + 4, texts.end()),
              (std::vector<std::string>{"Main.Power=On", "Main.Source=Coax1", "Dsp.Test=1k",
                                        "Dsp.Test=1k"}));
}

TEST(WarmUp, StopDuringTheSwitchOnSettleReportsCancelled) {
    SimOnLink line({.standby = true}, 0.1);  // settle from about 0.6 s to 2 s after switch-on
    ASSERT_TRUE(line.Ready());
    Observer observer;
    WarmUpWorker worker(line, observer);
    ASSERT_TRUE(line.Sim().WaitForRequests(3, 5s));  // two power queries, then the switch-on
    std::this_thread::sleep_for(1200ms);
    line.Wizard().Cancel().Set();
    EXPECT_EQ(worker.Join(), WarmUpEnd::Cancelled);
    EXPECT_EQ(observer.Codes(), std::vector<uint32_t>{kWarmUpCancelled});
    EXPECT_EQ(Count(line.Sim(), "Main.Source=Coax1"), 0u);
}

TEST(WarmUp, StopDuringThePowerQuerySkipsTheSwitchOn) {
    SimOnLink line({.standby = true}, 1.0);
    ASSERT_TRUE(line.Ready());
    Observer observer;
    observer.Stop(line.Wizard().Cancel());
    WarmUpWorker worker(line, observer);
    EXPECT_EQ(worker.Join(), WarmUpEnd::Stopped);  // well before a 6 s switch-on pause
    EXPECT_TRUE(observer.Events().empty());
    EXPECT_TRUE(line.Sim().WaitForRequests(1, 2s));
    EXPECT_FALSE(line.Sim().WaitForRequests(2, 200ms));
    EXPECT_EQ(Texts(line.Sim()), std::vector<std::string>{"Main.Power?"});
}

}  // namespace
}  // namespace k5::veldra
