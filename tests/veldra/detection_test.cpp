#include "veldra/detection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "serialport/com_port.h"
#include "veldra/detect_page_model.h"
#include "veldra/page_texts.h"
#include "wizard_fixture.h"

namespace k5::veldra {
namespace {

using namespace std::chrono_literals;
using test::ComPortMap;
using test::Count;
using test::RecordingObserver;

const std::string kDoubleCheck =
    "Please double check the connection to the PC and the COM port selection then try again.\n\r";

// Runs detection on its own thread, as the frame does; the one event it reported. What the
// worker returns must be what it reported.
std::vector<WorkerEvent> Detect(WizardLink& wizard, const DetectionRequest& request) {
    RecordingObserver observer;
    DetectionResult result;
    std::thread([&] { result = RunDetection(wizard.Link(), request, observer); }).join();
    const std::vector<WorkerEvent> events = observer.Events();
    if (events.size() == 1) {
        EXPECT_EQ(result.code, events[0].code);
        EXPECT_EQ(result.port, events[0].param);
    }
    return events;
}

TEST(Detection, SearchPassesSilentAndWrongModelPortsToTheK5OnCom3) {
    auto silent = sim::Simulator::Start({.silent = true});
    auto wrongModel = sim::Simulator::Start({.model = "K3"});
    auto k5 = sim::Simulator::Start({});
    auto beyond = sim::Simulator::Start({});
    ASSERT_TRUE(silent && wrongModel && k5 && beyond);
    ComPortMap ports({{1, silent->DevicePath()},
                      {2, wrongModel->DevicePath()},
                      {3, k5->DevicePath()},
                      {4, beyond->DevicePath()}});
    WizardLink wizard;
    EXPECT_EQ(Detect(wizard, {}), (std::vector<WorkerEvent>{{kMsgDetectDone, kDetectFound, 3}}));
    EXPECT_EQ(wizard.Port().IsOpen(), 1);
    EXPECT_EQ(wizard.Port().PortNumber(), 3);
    EXPECT_EQ(Count(*silent, "Main.Model?"), 2u);  // two attempts each
    EXPECT_EQ(Count(*wrongModel, "Main.Model?"), 2u);
    EXPECT_EQ(test::Texts(*k5), std::vector<std::string>{"Main.Model?"});  // power not asked
    EXPECT_TRUE(beyond->Requests().empty());

    DetectPageModel page;
    page.Show();
    page.Apply(kDetectFound, 3);
    page.Apply(5, 3);  // not a detection result: no text
    EXPECT_EQ(page.Text(),
              "Looking for K5...\n\r\n\rFound K5 on COM3.\n\r\n\rBefore starting the "
              "calibration, please make sure again that all the preparations below have been "
              "done:\n\ra) All inputs are disconnected.\n\rb) The left and right outputs are "
              "connected with 4ohms load.\n\r\n\rThen please press Next to start the "
              "calibration.");
    wizard.Port().Close();
}

TEST(Detection, SearchWithNoPortsAtAllFindsNothing) {
    ComPortMap ports({});
    WizardLink wizard;
    EXPECT_EQ(Detect(wizard, {}),
              (std::vector<WorkerEvent>{{kMsgDetectDone, kDetectNoneFound, 16}}));
    EXPECT_EQ(wizard.Port().IsOpen(), 0);
    DetectPageModel page;
    page.Show();
    page.Apply(kDetectNoneFound, kNoPortFound);
    EXPECT_EQ(page.Text(), "Looking for K5...\n\r\n\rCan not find K5.\n\r\n\r" + kDoubleCheck);
}

TEST(Detection, SearchProbesOnlyComOneToFifteenThatExist) {
    ComPortMap ports({});
    WizardLink wizard;
    std::vector<unsigned> probed;
    EXPECT_EQ(Detect(wizard, {.portExists =
                                  [&](unsigned n) {
                                      probed.push_back(n);
                                      return 0;
                                  }}),
              (std::vector<WorkerEvent>{{kMsgDetectDone, kDetectNoneFound, kNoPortFound}}));
    EXPECT_EQ(probed, (std::vector<unsigned>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
}

TEST(Detection, WarmedUpSearchStopsAtAK5InStandby) {
    auto standby = sim::Simulator::Start({.standby = true});
    auto powered = sim::Simulator::Start({});
    ASSERT_TRUE(standby && powered);
    ComPortMap ports({{2, standby->DevicePath()}, {3, powered->DevicePath()}});
    WizardLink wizard;
    EXPECT_EQ(Detect(wizard, {.warmedUp = true}),
              (std::vector<WorkerEvent>{{kMsgDetectDone, kDetectNotPoweredOn, 2}}));
    EXPECT_EQ(wizard.Port().IsOpen(), 0);
    EXPECT_TRUE(standby->WaitForRequests(3, 2s));   // the model query, then the power query
    EXPECT_EQ(Count(*standby, "Main.Power?"), 2u);  // twice
    EXPECT_TRUE(powered->Requests().empty());
    EXPECT_EQ(DetectionResultText(kDetectNotPoweredOn, 2),
              "Find K5 on COM2.\n\r\n\rBut the K5 has not been powered on.Please power on K5 "
              "manually and then try again.\n\r");
}

// The chosen port: each result, and whether the port stays open.
struct Chosen {
    const char* name;
    sim::SimConfig config;
    bool warmedUp;
    uint32_t code;
};

class DetectionOnChosenPort : public testing::TestWithParam<Chosen> {};

TEST_P(DetectionOnChosenPort, ReportsForThatPort) {
    const Chosen& c = GetParam();
    auto amp = sim::Simulator::Start(c.config);
    ASSERT_TRUE(amp);
    ComPortMap ports({{7, amp->DevicePath()}});
    WizardLink wizard;
    EXPECT_EQ(Detect(wizard, {.port = 7, .warmedUp = c.warmedUp}),
              (std::vector<WorkerEvent>{{kMsgDetectDone, c.code, 7}}));
    EXPECT_EQ(wizard.Port().IsOpen(), c.code == kDetectFound ? 1 : 0);
    wizard.Port().Close();
}

INSTANTIATE_TEST_SUITE_P(
    Codes, DetectionOnChosenPort,
    testing::Values(Chosen{"K5", {}, false, kDetectFound},
                    Chosen{"StandbyNotWarmedUp", {.standby = true}, false, kDetectFound},
                    Chosen{"StandbyWarmedUp", {.standby = true}, true, kDetectNotPoweredOn},
                    Chosen{"OnWarmedUp", {}, true, kDetectFound},
                    Chosen{"Silent", {.silent = true}, false, kDetectNoK5},
                    Chosen{"WrongModel", {.model = "K50"}, false, kDetectNoK5},
                    Chosen{"FirstAnswerLost", {.dropTextReplies = 1}, false, kDetectFound}),
    [](const testing::TestParamInfo<Chosen>& param) { return param.param.name; });

TEST(Detection, ChosenPortHeldByAnotherRecordCannotBeOpened) {
    auto amp = sim::Simulator::Start({});
    ASSERT_TRUE(amp);
    ComPortMap ports({{5, amp->DevicePath()}});
    CSerialComm holder(5);
    ASSERT_EQ(holder.Open(), 1) << holder.LastErrorText();
    WizardLink wizard;
    EXPECT_EQ(Detect(wizard, {.port = 5}),
              (std::vector<WorkerEvent>{{kMsgDetectDone, kDetectOpenFailed, 5}}));
    EXPECT_EQ(wizard.Port().IsOpen(), 0);
    EXPECT_TRUE(amp->Requests().empty());
    EXPECT_EQ(DetectionResultText(kDetectOpenFailed, 5),
              "Can not open COM5.\n\r\n\r" + kDoubleCheck);
    holder.Close();
}

TEST(Detection, SearchSkipsAPortHeldElsewhere) {
    auto held = sim::Simulator::Start({});
    auto free = sim::Simulator::Start({});
    ASSERT_TRUE(held && free);
    ComPortMap ports({{1, held->DevicePath()}, {4, free->DevicePath()}});
    CSerialComm holder(1);
    ASSERT_EQ(holder.Open(), 1) << holder.LastErrorText();
    WizardLink wizard;
    EXPECT_EQ(Detect(wizard, {}), (std::vector<WorkerEvent>{{kMsgDetectDone, kDetectFound, 4}}));
    EXPECT_EQ(wizard.Port().PortNumber(), 4);
    wizard.Port().Close();
    holder.Close();
}

// A record still open on one port, or a port number that would wrap, must not answer for
// another port.
TEST(Detection, FindAmplifierAnswersForTheRequestedPortOnly) {
    auto k5 = sim::Simulator::Start({});
    auto silent = sim::Simulator::Start({.silent = true});
    ASSERT_TRUE(k5 && silent);
    ComPortMap ports({{1, k5->DevicePath()}, {2, silent->DevicePath()}});
    WizardLink wizard;
    ASSERT_EQ(FindAmplifier(wizard.Link(), 1, false), kDetectFound);
    EXPECT_EQ(FindAmplifier(wizard.Link(), 2, false), kDetectNoK5);
    EXPECT_EQ(wizard.Port().IsOpen(), 0);
    EXPECT_TRUE(silent->WaitForRequests(2, 2s));
    EXPECT_EQ(Count(*silent, "Main.Model?"), 2u);
    EXPECT_EQ(FindAmplifier(wizard.Link(), 257, false), kDetectOpenFailed);  // not COM1
}

// Stopped during the search: the port being tried is finished, no further port is opened
// and nothing is reported.
TEST(Detection, StopRequestEndsTheSearchSilently) {
    class Stoppable : public RecordingObserver {
    public:
        bool StopRequested() const override { return stop; }
        std::atomic<bool> stop{false};
    };
    auto silent = sim::Simulator::Start({.silent = true});
    auto k5 = sim::Simulator::Start({});
    ASSERT_TRUE(silent && k5);
    ComPortMap ports({{1, silent->DevicePath()}, {3, k5->DevicePath()}});
    WizardLink wizard;
    Stoppable observer;
    const DetectionRequest request{.portExists = [&](unsigned n) {
        observer.stop = observer.stop || n == 2;
        return PortExists(n);
    }};
    std::thread([&] { RunDetection(wizard.Link(), request, observer); }).join();
    EXPECT_TRUE(observer.Events().empty());
    EXPECT_EQ(wizard.Port().IsOpen(), 0);
    EXPECT_TRUE(silent->WaitForRequests(2, 2s));
    EXPECT_EQ(Count(*silent, "Main.Model?"), 2u);  // COM1 was tried before the stop
    EXPECT_TRUE(k5->Requests().empty());
}

}  // namespace
}  // namespace k5::veldra
