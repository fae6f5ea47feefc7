#include "veldra/detection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "devlink/com_port.h"
#include "veldra/detect_page_model.h"
#include "veldra/page_texts.h"
#include "wizard_fixture.h"

namespace k5::veldra {
namespace {

using namespace std::chrono_literals;

using test::ComPortMap;
using test::CountText;
using test::RecordingObserver;

std::unique_ptr<sim::Simulator> StartSim(sim::SimConfig config) {
    std::string error;
    auto amp = sim::Simulator::Start(std::move(config), error);
    EXPECT_TRUE(amp) << error;
    return amp;
}

// Runs detection on its own thread, as the frame does, and returns what it reported.
DetectionResult Detect(WizardLink& wizard, DetectionRequest request, RecordingObserver& observer) {
    DetectionResult result;
    std::thread worker([&] { result = RunDetection(wizard.Link(), request, observer); });
    worker.join();
    return result;
}

TEST(Detection, SearchPassesSilentAndWrongModelPortsToTheK5OnCom3) {
    auto silent = StartSim({.silent = true});
    auto wrongModel = StartSim({.model = "K3"});
    auto k5 = StartSim({});
    auto spare = StartSim({});
    ASSERT_TRUE(silent && wrongModel && k5 && spare);
    ComPortMap ports({{1, silent->DevicePath()},
                      {2, wrongModel->DevicePath()},
                      {3, k5->DevicePath()},
                      {4, spare->DevicePath()}});
    WizardLink wizard;
    RecordingObserver observer;
    const DetectionResult result = Detect(wizard, {.port = 0}, observer);

    EXPECT_EQ(result.code, kDetectFound);
    EXPECT_EQ(result.port, 3);
    ASSERT_EQ(observer.Events().size(), 1u);
    EXPECT_EQ(observer.Events()[0], (WorkerEvent{kMsgDetectDone, kDetectFound, 3}));
    // Left open on COM3, and only there.
    EXPECT_EQ(wizard.Port().IsOpen(), 1);
    EXPECT_EQ(wizard.Port().PortNumber(), 3);
    // Each port that gave no K5 was asked twice; the K5 once; the one after it never.
    EXPECT_EQ(CountText(*silent, "Main.Model?"), 2u);
    EXPECT_EQ(CountText(*wrongModel, "Main.Model?"), 2u);
    EXPECT_EQ(CountText(*k5, "Main.Model?"), 1u);
    EXPECT_EQ(CountText(*k5, "Main.Power?"), 0u);  // the warm-up will run: power not asked
    EXPECT_TRUE(spare->Requests().empty());

    DetectPageModel page;
    page.Show();
    page.Apply(result.code, result.port);
    EXPECT_EQ(page.Text(),
              "Looking for K5...\n\r\n\rFound K5 on COM3.\n\r\n\rBefore starting the "
              "calibration, please make sure again that all the preparations below have been "
              "done:\n\ra) All inputs are disconnected.\n\rb) The left and right outputs are "
              "connected with 4ohms load.\n\r\n\rThen please press Next to start the "
              "calibration.");
    wizard.Port().Close();
}

TEST(Detection, SearchWithNoPortsAtAllReportsSixteen) {
    ComPortMap ports({});
    WizardLink wizard;
    RecordingObserver observer;
    const DetectionResult result = Detect(wizard, {.port = 0}, observer);
    EXPECT_EQ(observer.Events(),
              (std::vector<WorkerEvent>{{kMsgDetectDone, kDetectNoneFound, 16}}));
    EXPECT_EQ(result.port, kNoPortFound);
    EXPECT_EQ(wizard.Port().IsOpen(), 0);

    DetectPageModel page;
    page.Show();
    page.Apply(result.code, result.port);
    EXPECT_EQ(page.Text(),
              "Looking for K5...\n\r\n\rCan not find K5.\n\r\n\rPlease double check the "
              "connection to the PC and the COM port selection then try again.\n\r");
}

TEST(Detection, SearchProbesOnlyComOneToFifteenThatExist) {
    std::vector<unsigned> probed;
    WizardLink wizard;
    RecordingObserver observer;
    ComPortMap ports({});
    const DetectionResult result = Detect(wizard,
                                          {.port = 0,
                                           .portExists =
                                               [&](unsigned n) {
                                                   probed.push_back(n);
                                                   return 0;
                                               }},
                                          observer);
    EXPECT_EQ(result.code, kDetectNoneFound);
    std::vector<unsigned> expected;
    for (unsigned n = 1; n <= 15; ++n) {
        expected.push_back(n);
    }
    EXPECT_EQ(probed, expected);
}

TEST(Detection, WarmedUpSearchStopsAtAK5InStandby) {
    auto standby = StartSim({.standby = true});
    auto powered = StartSim({});
    ASSERT_TRUE(standby && powered);
    ComPortMap ports({{2, standby->DevicePath()}, {3, powered->DevicePath()}});
    WizardLink wizard;
    RecordingObserver observer;
    const DetectionResult result = Detect(wizard, {.port = 0, .warmedUp = true}, observer);
    EXPECT_EQ(observer.Events(),
              (std::vector<WorkerEvent>{{kMsgDetectDone, kDetectNotPoweredOn, 2}}));
    EXPECT_EQ(result.code, kDetectNotPoweredOn);
    EXPECT_EQ(wizard.Port().IsOpen(), 0);
    EXPECT_EQ(CountText(*standby, "Main.Power?"), 2u);
    EXPECT_TRUE(powered->Requests().empty());
    EXPECT_EQ(DetectionResultText(result.code, result.port),
              "Find K5 on COM2.\n\r\n\rBut the K5 has not been powered on.Please power on K5 "
              "manually and then try again.\n\r");
}

// The chosen port: each result code and the state of the port afterwards.
struct ChosenCase {
    const char* name;
    sim::SimConfig config;
    bool warmedUp;
    uint32_t code;
    bool leftOpen;
};

class DetectionOnChosenPort : public testing::TestWithParam<ChosenCase> {};

TEST_P(DetectionOnChosenPort, ReportsForThatPort) {
    const ChosenCase& c = GetParam();
    auto amp = StartSim(c.config);
    ASSERT_TRUE(amp);
    ComPortMap ports({{7, amp->DevicePath()}});
    WizardLink wizard;
    RecordingObserver observer;
    const DetectionResult result = Detect(wizard, {.port = 7, .warmedUp = c.warmedUp}, observer);
    EXPECT_EQ(observer.Events(), (std::vector<WorkerEvent>{{kMsgDetectDone, c.code, 7}}));
    EXPECT_EQ(result.code, c.code);
    EXPECT_EQ(wizard.Port().IsOpen(), c.leftOpen ? 1 : 0);
    wizard.Port().Close();
}

INSTANTIATE_TEST_SUITE_P(
    Codes, DetectionOnChosenPort,
    testing::Values(
        ChosenCase{"K5", {}, false, kDetectFound, true},
        // The power is asked only when the warm-up will be skipped.
        ChosenCase{"K5InStandby", {.standby = true}, false, kDetectFound, true},
        ChosenCase{"K5InStandbyWarmedUp", {.standby = true}, true, kDetectNotPoweredOn, false},
        ChosenCase{"K5OnWarmedUp", {}, true, kDetectFound, true},
        ChosenCase{"Silent", {.silent = true}, false, kDetectNoK5, false},
        ChosenCase{"WrongModel", {.model = "K50"}, false, kDetectNoK5, false},
        // A first answer lost on the line: the second attempt finds the K5.
        ChosenCase{"FirstAnswerLost", {.dropTextReplies = 1}, false, kDetectFound, true}),
    [](const testing::TestParamInfo<ChosenCase>& param) { return param.param.name; });

TEST(Detection, ChosenPortHeldByAnotherRecordCannotBeOpened) {
    auto amp = StartSim({});
    ASSERT_TRUE(amp);
    ComPortMap ports({{5, amp->DevicePath()}});
    CSerialComm holder(5);
    ASSERT_EQ(holder.Open(), 1) << holder.LastErrorText();

    WizardLink wizard;
    RecordingObserver observer;
    const DetectionResult result = Detect(wizard, {.port = 5}, observer);
    EXPECT_EQ(observer.Events(),
              (std::vector<WorkerEvent>{{kMsgDetectDone, kDetectOpenFailed, 5}}));
    EXPECT_EQ(wizard.Port().IsOpen(), 0);
    EXPECT_TRUE(amp->Requests().empty());
    EXPECT_EQ(DetectionResultText(result.code, result.port),
              "Can not open COM5.\n\r\n\rPlease double check the connection to the PC and the "
              "COM port selection then try again.\n\r");
    holder.Close();
}

TEST(Detection, SearchSkipsAPortHeldElsewhere) {
    auto held = StartSim({});
    auto free = StartSim({});
    ASSERT_TRUE(held && free);
    ComPortMap ports({{1, held->DevicePath()}, {4, free->DevicePath()}});
    CSerialComm holder(1);
    ASSERT_EQ(holder.Open(), 1);
    WizardLink wizard;
    RecordingObserver observer;
    const DetectionResult result = Detect(wizard, {.port = 0}, observer);
    EXPECT_EQ(result.code, kDetectFound);
    EXPECT_EQ(result.port, 4);
    wizard.Port().Close();
    holder.Close();
}

// A record still open on another port (as after a detection whose port was not closed) must
// not answer for the port now asked for.
TEST(Detection, FindAmplifierAnswersForTheRequestedPortOnly) {
    auto k5 = StartSim({});
    auto silent = StartSim({.silent = true});
    ASSERT_TRUE(k5 && silent);
    ComPortMap ports({{1, k5->DevicePath()}, {2, silent->DevicePath()}});
    WizardLink wizard;
    ASSERT_EQ(FindAmplifier(wizard.Link(), 1, false), kDetectFound);
    EXPECT_EQ(FindAmplifier(wizard.Link(), 2, false), kDetectNoK5);
    EXPECT_EQ(wizard.Port().IsOpen(), 0);
    EXPECT_EQ(CountText(*silent, "Main.Model?"), 2u);
}

// An observer whose stop request the test raises.
class StopAfterFirstPort : public RecordingObserver {
public:
    bool StopRequested() const override { return stop.load(); }
    std::atomic<bool> stop{false};
};

TEST(Detection, StopRequestEndsTheSearchWithoutAReport) {
    auto silent = StartSim({.silent = true});
    auto k5 = StartSim({});
    ASSERT_TRUE(silent && k5);
    ComPortMap ports({{1, silent->DevicePath()}, {3, k5->DevicePath()}});
    WizardLink wizard;
    StopAfterFirstPort observer;
    const DetectionRequest request{.port = 0, .portExists = [&](unsigned n) {
                                       if (n == 2) {
                                           observer.stop =
                                               true;  // COM1 has been tried; the stop comes now
                                       }
                                       return PortExists(n);
                                   }};
    Detect(wizard, request, observer);
    EXPECT_TRUE(observer.Events().empty());
    EXPECT_EQ(wizard.Port().IsOpen(), 0);
    EXPECT_EQ(CountText(*silent, "Main.Model?"), 2u);
    EXPECT_TRUE(k5->Requests().empty());
}

}  // namespace
}  // namespace k5::veldra
