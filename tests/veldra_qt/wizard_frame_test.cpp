#include <QLabel>
#include <algorithm>
#include <chrono>
#include <thread>

#include "devlink/serial_comm.h"
#include "veldra/page_texts.h"
#include "wizard_fixture.h"

namespace k5::veldra::test {

namespace {

using qtkit::MessageAnswer;

const std::string kSuccessLog =
    std::string(kStartingCalibration) + "1) Initializing the K5...  OK\n\r" +
    "2) Measuring the load on K5 output...  OK\n\r" + "3) Calculating the parameters...  OK\n\r" +
    "4) Configuring the K5 with calculated parameters...  OK\n\r" +
    "5) Verify the calibration...  OK\n\r" +
    "\n\rK5 Calibration is successful.Now power off the K5...  OK\n\r";

const std::string kStep1 = std::string(kStartingCalibration) + "1) Initializing the K5...  ";
const std::string kFailedCheck =
    "Failed\n\r\n\rPlease power off the K5 manually,double check the connection to the PC and "
    "the COM port selection then try again.\n\r";
const std::string kFailedLoad =
    "Failed\n\r\n\rGet incorrect measured load values.Please power off the K5,check the Post "
    "AMP modules and then try again.\n\r";
const std::string kSuccessUpToVerify =
    kSuccessLog.substr(0, kSuccessLog.find("OK\n\r\n\rK5 Calibration is successful"));

// --- Detection -------------------------------------------------------------------------------

TEST_F(WizardTest, AutoDetectFindsTheK5OnCom3AndKeepsItsPortOpen) {
    PutK5On(3);
    MakeFrame();
    DetectFrom(0);
    EXPECT_EQ(Frame().CurrentPage(), 4u);
    EXPECT_EQ(Frame().ButtonMask(), kButtonExit);  // while the search runs
    ASSERT_TRUE(WaitForDetection());

    EXPECT_EQ(DetectText(), std::string(kLookingForK5) + DetectionResultText(kDetectFound, 3));
    EXPECT_EQ(Frame().ComPort(), 3);
    EXPECT_TRUE(Frame().IsPortOpen());
    EXPECT_EQ(Frame().ButtonMask(), kAllButtons);
}

TEST_F(WizardTest, FailedDetectionOffersPreviousAndAFreshPortList) {
    MakeFrame();
    DetectFrom(0);
    ASSERT_TRUE(WaitForDetection());
    EXPECT_EQ(DetectText(),
              std::string(kLookingForK5) + DetectionResultText(kDetectNoneFound, kNoPortFound));
    EXPECT_EQ(Frame().ButtonMask(), kPreviousExit);
    EXPECT_FALSE(Frame().IsPortOpen());

    // An adapter plugged in meanwhile is listed when the page is entered again.
    PutK5On(3);
    Click("previousButton");
    EXPECT_EQ(Frame().CurrentPage(), 3u);
    EXPECT_EQ(Frame().ButtonMask(), kAllButtons);
    QComboBox* list = Frame().ComPortPage()->PortList();
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->itemText(1), QStringLiteral("COM3"));
    EXPECT_EQ(list->currentIndex(), 0);

    list->setCurrentIndex(1);
    Click("nextButton");
    ASSERT_TRUE(WaitForDetection());
    EXPECT_EQ(DetectText(), std::string(kLookingForK5) + DetectionResultText(kDetectFound, 3));
}

TEST_F(WizardTest, AChosenPortWithoutAK5IsClosedAgain) {
    PutK5On(3, {.silent = true});
    MakeFrame();
    DetectFrom(1);  // COM3, the only port listed
    ASSERT_TRUE(WaitForDetection());
    EXPECT_EQ(DetectText(), std::string(kLookingForK5) + DetectionResultText(kDetectNoK5, 3));
    EXPECT_FALSE(Frame().IsPortOpen());
    EXPECT_EQ(Frame().ButtonMask(), kPreviousExit);
}

TEST_F(WizardTest, AWarmedUpAnswerAlsoRequiresTheK5ToBePoweredOn) {
    PutK5On(3, {.standby = true});
    MakeFrame();
    DetectFrom(0, /*warmedUp=*/true);
    ASSERT_TRUE(WaitForDetection());
    EXPECT_EQ(DetectText(),
              std::string(kLookingForK5) + DetectionResultText(kDetectNotPoweredOn, 3));
    EXPECT_FALSE(Frame().IsPortOpen());
    EXPECT_EQ(Frame().ButtonMask(), kPreviousExit);
}

// --- Warm-up ---------------------------------------------------------------------------------

TEST_F(WizardTest, TheCountdownsEndStartsTheCalibrationWithoutAClick) {
    sim::Simulator& k5 = PutK5On(3);
    MakeFrame(/*countdownMinutes=*/0);
    DetectFrom(0);
    ASSERT_TRUE(WaitForDetection());
    Click("nextButton");
    EXPECT_EQ(Frame().CurrentPage(), 5u);
    EXPECT_EQ(Frame().ButtonMask(), 0);  // while the worker initialises the amplifier

    ASSERT_TRUE(WaitFor([this] { return Frame().ButtonMask() == kButtonExit; }));
    EXPECT_EQ(Frame().WarmUpPage()->Model().Countdown(), "00 : 00");
    ASSERT_TRUE(WaitFor([this] { return Frame().CurrentPage() == 6; }));
    EXPECT_TRUE(Frame().WarmedUp());
    EXPECT_EQ(Frame().WarmUpPage()->Model().Outcome(), kWarmUpAccomplishedText);

    ASSERT_TRUE(WaitForCalibrationEnd());
    EXPECT_EQ(CalibrationLog(), kSuccessLog);
    EXPECT_EQ(CalibrationBar(), 100);
    EXPECT_EQ(Frame().ButtonMask(), kPreviousExit);
    EXPECT_FALSE(Frame().IsPortOpen());
    EXPECT_EQ(k5.State().power, sim::Power::Standby);
    EXPECT_EQ(CountText(k5, "Main.Mute=On"), 0);  // a completed run is not muted
}

TEST_F(WizardTest, ACancelledWarmUpKeepsThePortAndNextCalibratesAtOnce) {
    sim::Simulator& k5 = PutK5On(3);
    ASSERT_NO_FATAL_FAILURE(StartWarmUp(/*countdownMinutes=*/10));

    boxes_.AnswerNext(MessageAnswer::Ok);
    Click("exitButton");
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].text.toStdString(), kConfirmCancelWarmUp);
    EXPECT_EQ(boxes_.Shown()[0].caption.toStdString(), kConfirmCancelCaption);
    EXPECT_EQ(boxes_.Shown()[0].buttons, qtkit::MessageButtons::OkCancel);

    EXPECT_FALSE(Frame().WorkerRunning());
    EXPECT_EQ(Frame().CurrentPage(), 5u);
    EXPECT_EQ(Frame().ButtonMask(), kAllButtons);
    EXPECT_TRUE(Frame().IsPortOpen());
    EXPECT_TRUE(Frame().WarmedUp());
    EXPECT_EQ(Frame().WarmUpPage()->Model().Outcome(), kWarmUpCancelledText);
    EXPECT_FALSE(Frame().WarmUpPage()->CountdownTimerActive());
    EXPECT_TRUE(k5.State().mute);

    // Exit now asks the exit question, not the cancel one.
    Click("exitButton");
    ASSERT_EQ(boxes_.Shown().size(), 2u);
    EXPECT_EQ(boxes_.Shown()[1].text.toStdString(), kConfirmExit);
    EXPECT_TRUE(Frame().isVisible());

    Click("nextButton");
    EXPECT_EQ(Frame().CurrentPage(), 6u);
    ASSERT_TRUE(WaitForCalibrationEnd());
    EXPECT_EQ(CalibrationLog(), kSuccessLog);
}

TEST_F(WizardTest, ExitAnsweredCancelLeavesTheCountdownRunning) {
    PutK5On(3);
    ASSERT_NO_FATAL_FAILURE(StartWarmUp(/*countdownMinutes=*/10));
    const uint64_t run = Frame().CurrentWorkerRun();

    boxes_.AnswerNext(MessageAnswer::Cancel);
    Click("exitButton");
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].text.toStdString(), kConfirmCancelWarmUp);
    EXPECT_TRUE(Frame().WorkerRunning());
    EXPECT_EQ(Frame().CurrentWorkerRun(), run);
    EXPECT_EQ(Frame().ButtonMask(), kButtonExit);
    EXPECT_TRUE(Frame().WarmUpPage()->CountdownTimerActive());
    ASSERT_TRUE(
        WaitFor([this] { return Frame().WarmUpPage()->Model().Countdown() == "09 : 59"; }, 3000));
    EXPECT_TRUE(Frame().WarmUpPage()->Model().Outcome().empty());
}

TEST_F(WizardTest, TheCloseBoxCancelsAWarmUpStillInitialising) {
    // A K5 in standby takes the warm-up's long start-up wait, with every button disabled.
    PutK5On(3, {.standby = true});
    MakeFrame(/*countdownMinutes=*/10);
    DetectFrom(0);
    ASSERT_TRUE(WaitForDetection());
    Click("nextButton");
    ASSERT_EQ(Frame().ButtonMask(), 0);

    boxes_.AnswerNext(MessageAnswer::Ok);
    Frame().close();
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].text.toStdString(), kConfirmCancelWarmUp);
    EXPECT_TRUE(Frame().isVisible());
    EXPECT_EQ(Frame().ButtonMask(), kAllButtons);
    EXPECT_TRUE(Frame().IsPortOpen());
    EXPECT_EQ(Frame().WarmUpPage()->Model().Outcome(), kWarmUpCancelledText);
}

TEST_F(WizardTest, AnAnswerGivenAfterTheWarmUpEndedChangesNothing) {
    // The warm-up fails while the cancel question is open: its error stands, Next stays off.
    sim::Simulator& k5 = PutK5On(3);
    ASSERT_NO_FATAL_FAILURE(StartWarmUp(/*countdownMinutes=*/10));

    boxes_.AnswerNext(MessageAnswer::Ok);
    boxes_.WhileAsking([&] {
        k5.Update([](sim::SimConfig& config) { config.silent = true; });
        ASSERT_TRUE(WaitFor([this] { return !Frame().WorkerRunning(); }));
    });
    Click("exitButton");
    EXPECT_EQ(Frame().WarmUpPage()->Model().Outcome(), kWarmUpErrorText);
    EXPECT_EQ(Frame().ButtonMask(), kPreviousExit);
    EXPECT_FALSE(Frame().IsPortOpen());
    EXPECT_TRUE(Frame().isVisible());
}

TEST_F(WizardTest, ACancelConfirmedAfterTheCountdownEndedLeavesTheCalibrationRunning) {
    PutK5On(3);
    ASSERT_NO_FATAL_FAILURE(StartWarmUp(/*countdownMinutes=*/0));

    // The countdown runs out while the question is open, and the calibration starts.
    boxes_.AnswerNext(MessageAnswer::Ok);
    boxes_.WhileAsking(
        [this] { ASSERT_TRUE(WaitFor([this] { return Frame().CurrentPage() == 6; })); });
    Click("exitButton");
    EXPECT_EQ(boxes_.Shown()[0].text.toStdString(), kConfirmCancelWarmUp);
    EXPECT_EQ(Frame().CurrentPage(), 6u);
    EXPECT_TRUE(Frame().IsPortOpen());
    EXPECT_EQ(Frame().WarmUpPage()->Model().Outcome(), kWarmUpAccomplishedText);
    ASSERT_TRUE(WaitForCalibrationEnd());
    EXPECT_EQ(CalibrationLog(), kSuccessLog);
}

TEST_F(WizardTest, ALateWarmUpReportAfterTheStopChangesNothing) {
    sim::Simulator& k5 = PutK5On(3);
    ASSERT_NO_FATAL_FAILURE(StartWarmUp(/*countdownMinutes=*/0));
    const uint64_t warmUpRun = Frame().CurrentWorkerRun();
    ASSERT_TRUE(WaitFor([this] { return Frame().CurrentPage() == 6; }));
    ASSERT_TRUE(Frame().WorkerRunning());

    // What a warm-up command broken off by the stop would have reported.
    for (const uint32_t code : {kWarmUpError, kWarmUpCancelled}) {
        Frame().OnWorkerEvent(WorkerEvent{kMsgWarmUpEvent, code, 0, warmUpRun});
    }
    EXPECT_TRUE(Frame().IsPortOpen());
    EXPECT_EQ(Frame().ButtonMask(), kButtonExit);
    EXPECT_EQ(Frame().WarmUpPage()->Model().Outcome(), kWarmUpAccomplishedText);

    ASSERT_TRUE(WaitForCalibrationEnd());
    EXPECT_EQ(CalibrationLog(), kSuccessLog);
    EXPECT_EQ(CountText(k5, "Main.Mute=On"), 0);
}

TEST_F(WizardTest, ALateErrorAfterAConfirmedCancelKeepsTheCancelledState) {
    PutK5On(3);
    ASSERT_NO_FATAL_FAILURE(StartWarmUp(/*countdownMinutes=*/10));
    const uint64_t warmUpRun = Frame().CurrentWorkerRun();
    boxes_.AnswerNext(MessageAnswer::Ok);
    Click("exitButton");

    Frame().OnWorkerEvent(WorkerEvent{kMsgWarmUpEvent, kWarmUpError, 0, warmUpRun});
    EXPECT_EQ(Frame().ButtonMask(), kAllButtons);
    EXPECT_TRUE(Frame().IsPortOpen());
    EXPECT_EQ(Frame().WarmUpPage()->Model().Outcome(), kWarmUpCancelledText);
}

// Makes the warm-up's keep-alive fail and waits, without letting the frame see any report,
// until the failing command is being tried or, with `untilQueued`, until its error is on its
// way to the frame (both attempts and their read time-outs are over).
void FailKeepAliveUnseen(sim::Simulator& k5, bool untilQueued) {
    const auto tones = [&k5] {
        const std::vector<sim::Request> requests = k5.Requests();
        return std::count_if(requests.begin(), requests.end(),
                             [](const sim::Request& r) { return r.text == "Dsp.Test=1k"; });
    };
    const auto before = tones();
    k5.Update([](sim::SimConfig& config) { config.ignorePaths = {"Dsp.Test"}; });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (tones() < before + (untilQueued ? 2 : 1)) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (untilQueued) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    k5.Update([](sim::SimConfig& config) { config.ignorePaths.clear(); });
}

// The warm-up fails just as its countdown runs out: whether its error is already queued or
// still being found, the calibration that follows on the same port is neither muted nor
// robbed of its port.
TEST_F(WizardTest, AWarmUpFailureRacingTheCountdownsEndIsDropped) {
    for (const bool untilQueued : {true, false}) {
        SCOPED_TRACE(untilQueued ? "error queued" : "command under way");
        sim::Simulator& k5 = PutK5On(3);
        ASSERT_NO_FATAL_FAILURE(StartWarmUp(/*countdownMinutes=*/10));

        FailKeepAliveUnseen(k5, untilQueued);
        Frame().OnWarmUpEvent(kWarmUpFinished);  // what the page says when its countdown ends
        EXPECT_EQ(Frame().CurrentPage(), 6u);
        ASSERT_TRUE(WaitForCalibrationEnd());
        EXPECT_EQ(CalibrationLog(), kSuccessLog);
        EXPECT_EQ(CountText(k5, "Main.Mute=On"), 0);
        EXPECT_NE(Frame().WarmUpPage()->Model().Outcome(), kWarmUpErrorText);
        frame_.reset();
        sims_.clear();
    }
}

// The warm-up's error is queued while the cancel question is open and the answer is OK: the
// cancelled state stands, and Next calibrates on the port that is still open.
TEST_F(WizardTest, AWarmUpErrorQueuedBeforeAConfirmedCancelIsDropped) {
    sim::Simulator& k5 = PutK5On(3);
    ASSERT_NO_FATAL_FAILURE(StartWarmUp(/*countdownMinutes=*/10));

    boxes_.AnswerNext(MessageAnswer::Ok);
    boxes_.WhileAsking([&] { FailKeepAliveUnseen(k5, true); });
    Click("exitButton");
    QTest::qWait(50);  // the queued error arrives
    EXPECT_EQ(Frame().ButtonMask(), kAllButtons);
    EXPECT_TRUE(Frame().IsPortOpen());
    EXPECT_EQ(Frame().WarmUpPage()->Model().Outcome(), kWarmUpCancelledText);
    EXPECT_EQ(CountText(k5, "Main.Mute=On"), 1);  // the cancel's own mute, once

    Click("nextButton");
    ASSERT_TRUE(WaitForCalibrationEnd());
    EXPECT_EQ(CalibrationLog(), kSuccessLog);
}

// --- Calibration -----------------------------------------------------------------------------

TEST_F(WizardTest, TheWarmedUpBoxGoesStraightToTheCalibration) {
    sim::Simulator& k5 = PutK5On(3);
    MakeFrame();
    DetectFrom(0, /*warmedUp=*/true);
    ASSERT_TRUE(WaitForDetection());
    EXPECT_GE(CountText(k5, "Main.Power?"), 1);  // the power state was asked
    Click("nextButton");
    EXPECT_EQ(Frame().CurrentPage(), 6u);
    EXPECT_EQ(Frame().ButtonMask(), kButtonExit);
    EXPECT_TRUE(Frame().WarmUpPage()->isHidden());
    EXPECT_TRUE(Frame().WarmUpPage()->Model().ProgressLine().empty());  // never entered
    ASSERT_TRUE(WaitForCalibrationEnd());
    EXPECT_EQ(CalibrationLog(), kSuccessLog);
    EXPECT_EQ(CalibrationBar(), 100);

    // Previous leads back to the preparation page, with the box cleared again.
    Click("previousButton");
    EXPECT_EQ(Frame().CurrentPage(), 2u);
    EXPECT_EQ(Frame().ButtonMask(), kAllButtons);
    EXPECT_FALSE(Frame().PreparationPage()->WarmedUpBox()->isChecked());
    EXPECT_FALSE(Frame().WarmedUp());
}

TEST_F(WizardTest, AnUnacceptableLoadEndsAtTwentyFivePercentWithThePortClosed) {
    sim::Simulator& k5 = PutK5On(3, {.left = 400});
    MakeFrame();
    DetectFrom(0, /*warmedUp=*/true);
    ASSERT_TRUE(WaitForDetection());
    Click("nextButton");
    ASSERT_TRUE(WaitForCalibrationEnd());

    EXPECT_EQ(CalibrationLog(), std::string(kStartingCalibration) +
                                    "1) Initializing the K5...  OK\n\r" +
                                    "2) Measuring the load on K5 output...  " + kFailedLoad);
    EXPECT_EQ(CalibrationBar(), 25);
    EXPECT_FALSE(Frame().IsPortOpen());
    EXPECT_EQ(Frame().ButtonMask(), kPreviousExit);
    EXPECT_TRUE(k5.State().mute);
    EXPECT_EQ(k5.State().volume, -20);
}

TEST_F(WizardTest, ExitDuringACalibrationJoinsTheWorkerAndMutesTheK5) {
    // Slow replies keep the calibration busy long enough to be interrupted.
    sim::Simulator& k5 = PutK5On(3, {.slowReplies = std::chrono::milliseconds(30)});
    MakeFrame();
    DetectFrom(0, /*warmedUp=*/true);
    ASSERT_TRUE(WaitForDetection());
    Click("nextButton");
    ASSERT_TRUE(WaitFor([this] { return CalibrationBar() > 0; }));
    ASSERT_TRUE(Frame().WorkerRunning());

    boxes_.AnswerNext(MessageAnswer::Ok);
    Click("exitButton");
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].text.toStdString(), kConfirmExit);
    EXPECT_EQ(boxes_.Shown()[0].caption.toStdString(), kConfirmExitCaption);
    EXPECT_FALSE(Frame().isVisible());
    EXPECT_EQ(Frame().result(), QDialog::Rejected);
    EXPECT_FALSE(Frame().WorkerRunning());
    EXPECT_FALSE(Frame().IsPortOpen());
    EXPECT_TRUE(k5.State().mute);

    // Reports the worker queued before the join arrive at a frame that has ended.
    const std::string log = CalibrationLog();
    QTest::qWait(50);
    EXPECT_EQ(CalibrationLog(), log);
}

// The frame's own reaction to each final calibration code it can meet: mute (except after a
// completed run), the page's text, Previous and Exit, no worker and the port closed.
struct CalibrationEnd {
    const char* name;
    sim::SimConfig config;
    std::string log;
    int bar;
    int mutes;  // "Main.Mute=On" sent by the frame
};

class CalibrationEnding : public WizardTest,
                          public ::testing::WithParamInterface<CalibrationEnd> {};

TEST_P(CalibrationEnding, TheFrameMutesClosesThePortAndOffersPreviousAndExit) {
    const CalibrationEnd& c = GetParam();
    sim::Simulator& k5 = PutK5On(3, c.config);
    MakeFrame();
    DetectFrom(0, /*warmedUp=*/true);
    ASSERT_TRUE(WaitForDetection());
    Click("nextButton");
    ASSERT_TRUE(WaitForCalibrationEnd());

    EXPECT_EQ(CalibrationLog(), c.log);
    EXPECT_EQ(CalibrationBar(), c.bar);
    EXPECT_EQ(Frame().ButtonMask(), kPreviousExit);
    EXPECT_FALSE(Frame().IsPortOpen());
    EXPECT_EQ(CountText(k5, "Main.Mute=On"), c.mutes);
    EXPECT_EQ(CountText(k5, "Main.Volume=-20"), c.mutes);
}

INSTANTIATE_TEST_SUITE_P(
    FinalCodes, CalibrationEnding,
    ::testing::Values(
        CalibrationEnd{"Failed", {.ignorePaths = {"Main.Source"}}, kStep1 + kFailedCheck, 2, 1},
        CalibrationEnd{"ReadBackDiffers",
                       {.readbackMismatch = true},
                       kSuccessUpToVerify +
                           "Failed\n\r\n\rK5 has not been configured correctly.Please power "
                           "off the K5 and try the calibration again.\n\r",
                       84,
                       1},
        CalibrationEnd{"PowerOffUnanswered",
                       {.ignoreCommands = {"Main.Power=Off"}},
                       kSuccessLog.substr(0, kSuccessLog.size() - 4) +
                           "Failed\n\r\n\rPlease power off the K5 manually.\n\r",
                       98,
                       1},
        CalibrationEnd{"Complete", {}, kSuccessLog, 100, 0}),
    [](const ::testing::TestParamInfo<CalibrationEnd>& param) { return param.param.name; });

// A cancel code comes only from a stopped worker, whose reports the frame drops; delivered
// as the current run's anyway, it leaves the buttons alone. The frame acts on it only once
// the worker has ended: its mute reaches the amplifier after the worker's last request.
TEST_F(WizardTest, ACancelCodeLeavesTheButtonsAndWaitsForTheWorkerToEnd) {
    sim::Simulator& k5 = PutK5On(3, {.slowReplies = std::chrono::milliseconds(20)});
    MakeFrame();
    DetectFrom(0, /*warmedUp=*/true);
    ASSERT_TRUE(WaitForDetection());
    Click("nextButton");
    ASSERT_TRUE(WaitFor([this] { return CalibrationBar() > 0; }));
    ASSERT_TRUE(Frame().WorkerRunning());

    // The amplifier falls silent: the worker, still busy, fails and ends on its own.
    k5.Update([](sim::SimConfig& config) { config.silent = true; });
    Frame().OnWorkerEvent(
        WorkerEvent{kMsgCalibProgress, kCalibCancelled, 0, Frame().CurrentWorkerRun()});

    EXPECT_FALSE(Frame().WorkerRunning());
    EXPECT_FALSE(Frame().IsPortOpen());
    EXPECT_EQ(Frame().ButtonMask(), kButtonExit);
    EXPECT_TRUE(CalibrationLog().ends_with("...  Cancelled\n\r\n\r")) << CalibrationLog();
    const std::vector<sim::Request> requests = k5.Requests();
    const auto firstMute = std::find_if(requests.begin(), requests.end(),
                                        [](const auto& r) { return r.text == "Main.Volume=-20"; });
    ASSERT_NE(firstMute, requests.end());
    for (auto r = firstMute; r != requests.end(); ++r) {
        EXPECT_TRUE(r->text == "Main.Volume=-20" || r->text == "Main.Mute=On")
            << "the worker was still on the line after the mute began";
    }
    EXPECT_EQ(requests.back().text, "Main.Mute=On");

    // The worker's own failure, queued meanwhile, changes nothing.
    const std::string log = CalibrationLog();
    QTest::qWait(50);
    EXPECT_EQ(CalibrationLog(), log);
    EXPECT_EQ(Frame().ButtonMask(), kButtonExit);
}

TEST_F(WizardTest, ADetectionCodeBeyondTheTableOnlyEndsTheWorker) {
    PutK5On(3, {.silent = true});
    MakeFrame();
    DetectFrom(1);  // COM3: the silent K5 keeps the detection busy for a while
    ASSERT_TRUE(Frame().WorkerRunning());
    // A detection code above 4 ends the worker, but shows and enables nothing.
    Frame().OnWorkerEvent(WorkerEvent{kMsgDetectDone, 5, 3, Frame().CurrentWorkerRun()});
    EXPECT_FALSE(Frame().WorkerRunning());
    EXPECT_EQ(DetectText(), kLookingForK5);
    EXPECT_EQ(Frame().ButtonMask(), kButtonExit);
    QTest::qWait(50);  // the detection's own result was dropped
    EXPECT_EQ(DetectText(), kLookingForK5);
}

TEST_F(WizardTest, CalibrationCodesBeyondTheTableChangeNothing) {
    PutK5On(3);
    MakeFrame();
    DetectFrom(0, /*warmedUp=*/true);
    ASSERT_TRUE(WaitForDetection());
    Click("nextButton");
    ASSERT_TRUE(Frame().WorkerRunning());
    const uint64_t run = Frame().CurrentWorkerRun();
    for (const uint32_t code : {14u, 15u, 255u}) {
        Frame().OnWorkerEvent(WorkerEvent{kMsgCalibProgress, code, 0, run});
    }
    EXPECT_TRUE(Frame().WorkerRunning());
    EXPECT_EQ(Frame().CurrentWorkerRun(), run);
    EXPECT_EQ(Frame().ButtonMask(), kButtonExit);
    EXPECT_TRUE(Frame().IsPortOpen());
    ASSERT_TRUE(WaitForCalibrationEnd());
    EXPECT_EQ(CalibrationLog(), kSuccessLog);
}

TEST_F(WizardTest, PreviousFromTheWarmUpPageClosesThePort) {
    sim::Simulator& k5 = PutK5On(3);
    ASSERT_NO_FATAL_FAILURE(StartWarmUp(/*countdownMinutes=*/10));
    boxes_.AnswerNext(MessageAnswer::Ok);
    Click("exitButton");
    ASSERT_EQ(Frame().ButtonMask(), kAllButtons);
    ASSERT_TRUE(Frame().IsPortOpen());

    Click("previousButton");
    EXPECT_FALSE(Frame().IsPortOpen());
    EXPECT_EQ(Frame().CurrentPage(), 2u);
    EXPECT_EQ(Frame().ButtonMask(), kAllButtons);
    // The port is free again: another program may open the amplifier's line.
    CSerialComm other;
    other.SetDevicePathOverride(k5.DevicePath());
    EXPECT_EQ(other.Open(), 1) << other.LastErrorText();
    other.Close();
}

TEST_F(WizardTest, ExitAfterAWarmUpFailureAsksTheExitQuestion) {
    sim::Simulator& k5 = PutK5On(3);
    ASSERT_NO_FATAL_FAILURE(StartWarmUp(/*countdownMinutes=*/10));
    k5.Update([](sim::SimConfig& config) { config.ignorePaths = {"Dsp.Test"}; });
    ASSERT_TRUE(WaitFor([this] { return !Frame().WorkerRunning(); }));

    EXPECT_EQ(Frame().WarmUpPage()->Model().Outcome(), kWarmUpErrorText);
    EXPECT_EQ(Frame().ButtonMask(), kPreviousExit);
    EXPECT_FALSE(Frame().IsPortOpen());
    EXPECT_EQ(CountText(k5, "Main.Mute=On"), 1);
    EXPECT_FALSE(Frame().WarmUpPage()->CountdownTimerActive());

    boxes_.AnswerNext(MessageAnswer::Cancel);
    Click("exitButton");
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].text.toStdString(), kConfirmExit);
    EXPECT_TRUE(Frame().isVisible());
}

// --- The frame -------------------------------------------------------------------------------

TEST_F(WizardTest, EnterPressesTheFocusedButtonAndOtherwiseNext) {
    PutK5On(3);
    MakeFrame();
    QTest::keyClick(&Frame(), Qt::Key_Return);  // no button has the focus: Next
    EXPECT_EQ(Frame().CurrentPage(), 2u);
    Click("nextButton");
    Frame().ComPortPage()->PortList()->setCurrentIndex(0);
    Click("nextButton");
    ASSERT_TRUE(WaitForDetection());
    ASSERT_EQ(Frame().ButtonMask(), kAllButtons);

    // Exit has the focus: its question, not the warm-up.
    boxes_.AnswerNext(MessageAnswer::Cancel);
    Button("exitButton")->setFocus();
    QTest::keyClick(Button("exitButton"), Qt::Key_Return);
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].text.toStdString(), kConfirmExit);
    EXPECT_EQ(Frame().CurrentPage(), 4u);
    EXPECT_FALSE(Frame().WorkerRunning());

    // Previous has the focus: back to the port selection.
    Button("previousButton")->setFocus();
    QTest::keyClick(Button("previousButton"), Qt::Key_Enter);
    EXPECT_EQ(Frame().CurrentPage(), 3u);
    EXPECT_FALSE(Frame().IsPortOpen());
    EXPECT_FALSE(Frame().WorkerRunning());
    EXPECT_EQ(boxes_.Shown().size(), 1u);
}

TEST_F(WizardTest, EscapeNeverEndsTheWizard) {
    MakeFrame();
    for (int page = 1; page <= 3; ++page) {
        QTest::keyClick(&Frame(), Qt::Key_Escape);
        EXPECT_TRUE(Frame().isVisible());
        if (page < 3) {
            Click("nextButton");
        }
    }
    EXPECT_TRUE(boxes_.Shown().empty());
}

TEST_F(WizardTest, ExitAnsweredCancelKeepsTheWizardOpen) {
    MakeFrame();
    boxes_.AnswerNext(MessageAnswer::Cancel);
    Click("exitButton");
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].text.toStdString(), kConfirmExit);
    EXPECT_TRUE(Frame().isVisible());
    EXPECT_EQ(Frame().CurrentPage(), 1u);
}

TEST_F(WizardTest, TheHeaderAndCaptionStayOnEveryPage) {
    MakeFrame();
    const auto* header = Frame().findChild<QLabel*>(QStringLiteral("header"));
    ASSERT_NE(header, nullptr);
    for (unsigned page = 1; page <= 3; ++page) {
        EXPECT_EQ(Frame().CurrentPage(), page);
        EXPECT_EQ(header->text().toStdString(), kWizardHeader);
        EXPECT_EQ(Frame().windowTitle().toStdString(), kWizardCaption);
        EXPECT_TRUE(header->isVisible());
        if (page < 3) {
            Click("nextButton");
        }
    }
}

TEST_F(WizardTest, PreviousWalksBackOnePageAtATime) {
    MakeFrame();
    EXPECT_EQ(Frame().ButtonMask(), kButtonNext | kButtonExit);
    Click("nextButton");
    Click("nextButton");
    EXPECT_EQ(Frame().CurrentPage(), 3u);
    Click("previousButton");
    EXPECT_EQ(Frame().CurrentPage(), 2u);
    EXPECT_EQ(Frame().ButtonMask(), kAllButtons);
    Click("previousButton");
    EXPECT_EQ(Frame().CurrentPage(), 1u);
    EXPECT_EQ(Frame().ButtonMask(), kButtonNext | kButtonExit);
}

}  // namespace

}  // namespace k5::veldra::test
