#include <QLabel>

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
    MakeFrame(/*countdownMinutes=*/10);
    DetectFrom(0);
    ASSERT_TRUE(WaitForDetection());
    Click("nextButton");
    ASSERT_TRUE(WaitFor([this] { return Frame().ButtonMask() == kButtonExit; }));

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
    MakeFrame(/*countdownMinutes=*/10);
    DetectFrom(0);
    ASSERT_TRUE(WaitForDetection());
    Click("nextButton");
    ASSERT_TRUE(WaitFor([this] { return Frame().ButtonMask() == kButtonExit; }));
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
    MakeFrame(/*countdownMinutes=*/10);
    DetectFrom(0);
    ASSERT_TRUE(WaitForDetection());
    Click("nextButton");
    ASSERT_TRUE(WaitFor([this] { return Frame().ButtonMask() == kButtonExit; }));

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
    MakeFrame(/*countdownMinutes=*/0);
    DetectFrom(0);
    ASSERT_TRUE(WaitForDetection());
    Click("nextButton");
    ASSERT_TRUE(WaitFor([this] { return Frame().ButtonMask() == kButtonExit; }));

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
    MakeFrame(/*countdownMinutes=*/0);
    DetectFrom(0);
    ASSERT_TRUE(WaitForDetection());
    Click("nextButton");
    ASSERT_TRUE(WaitFor([this] { return Frame().ButtonMask() == kButtonExit; }));
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
    MakeFrame(/*countdownMinutes=*/10);
    DetectFrom(0);
    ASSERT_TRUE(WaitForDetection());
    Click("nextButton");
    ASSERT_TRUE(WaitFor([this] { return Frame().ButtonMask() == kButtonExit; }));
    const uint64_t warmUpRun = Frame().CurrentWorkerRun();
    boxes_.AnswerNext(MessageAnswer::Ok);
    Click("exitButton");

    Frame().OnWorkerEvent(WorkerEvent{kMsgWarmUpEvent, kWarmUpError, 0, warmUpRun});
    EXPECT_EQ(Frame().ButtonMask(), kAllButtons);
    EXPECT_TRUE(Frame().IsPortOpen());
    EXPECT_EQ(Frame().WarmUpPage()->Model().Outcome(), kWarmUpCancelledText);
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
                                    "2) Measuring the load on K5 output...  " +
                                    std::string(CalibrationStepText(kCalibBadLoad)));
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

// --- The frame -------------------------------------------------------------------------------

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
