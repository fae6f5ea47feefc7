#include <gtest/gtest.h>

#include "veldra/calibration_page_model.h"
#include "veldra/detect_page_model.h"
#include "veldra/event_codes.h"
#include "veldra/page_texts.h"
#include "veldra/warm_up_page_model.h"

namespace k5::veldra {
namespace {

const std::string kDoubleCheck =
    "Please double check the connection to the PC and the COM port selection then try again.\n\r";

TEST(DetectPage, ResultTextsFillInThePort) {
    EXPECT_EQ(DetectionResultText(kDetectOpenFailed, 12),
              "Can not open COM12.\n\r\n\r" + kDoubleCheck);
    EXPECT_EQ(DetectionResultText(kDetectNoK5, 1),
              "Can not find K5 on COM1.\n\r\n\r" + kDoubleCheck);
    EXPECT_EQ(DetectionResultText(kDetectNoneFound, 16), "Can not find K5.\n\r\n\r" + kDoubleCheck);
    EXPECT_EQ(DetectionResultText(5, 3), "");
}

TEST(DetectPage, ShowingAgainStartsAFreshTextAndUnknownCodesLeaveItAlone) {
    DetectPageModel page;
    page.Show();
    page.Apply(kDetectNoK5, 2);
    page.Show();
    EXPECT_EQ(page.Text(), "Looking for K5...\n\r\n\r");
    page.Apply(7, 2);
    EXPECT_EQ(page.Text(), "Looking for K5...\n\r\n\r");
}

TEST(CalibrationPage, ShowingAgainResetsLogAndBarAndUnknownCodesChangeNothing) {
    CalibrationPageModel page;
    page.Show();
    for (uint32_t code : std::initializer_list<uint32_t>{kCalibInitializing, kCalibTick,
                                                         kCalibStepOk, kCalibMeasuring, kCalibTick,
                                                         kCalibCancelled, 14u, 0xFFFFFFFFu}) {
        page.Apply(code);
    }
    EXPECT_EQ(page.Log(),
              "Starting the calibration!\n\r\n\r1) Initializing the K5...  OK\n\r2) Measuring "
              "the load on K5 output...  Cancelled\n\r\n\r");
    EXPECT_EQ(page.Position(), 15);
    page.Show();
    EXPECT_EQ(page.Log(), "Starting the calibration!\n\r\n\r");
    EXPECT_EQ(page.Position(), 0);
    EXPECT_EQ(page.Step(), 1);
    page.Apply(kCalibPoweringOff);
    EXPECT_EQ(page.Position(), 98);
    // Unknown codes change nothing in a live run either.
    const std::string log = page.Log();
    page.Apply(14);
    page.Apply(0xFFFFFFFF);
    EXPECT_EQ(page.Log(), log);
    EXPECT_EQ(page.Position(), 98);
    page.Apply(kCalibTick);
    page.Apply(kCalibTick);
    EXPECT_EQ(page.Position(), 100);  // stops at its end
}

TEST(WarmUpPage, DotsGrowToTwentyThenStartOver) {
    WarmUpPageModel page;
    page.Show();
    for (int i = 0; i < 20; ++i) {
        page.TickDots();
    }
    EXPECT_EQ(page.ProgressLine(), "Initializing Warming up" + std::string(20, '.'));
    page.TickDots();
    EXPECT_EQ(page.ProgressLine(), "Initializing Warming up");
    page.TickDots();
    EXPECT_EQ(page.ProgressLine(), "Initializing Warming up.");
}

TEST(WarmUpPage, CountdownRunsTenMinutesAndFinishesOneTickAfterZero) {
    WarmUpPageModel page;
    page.Show();
    page.Apply(kWarmUpRunning);
    EXPECT_FALSE(page.DotsRunning());
    EXPECT_EQ(page.Countdown(), "10 : 00");
    EXPECT_EQ(page.ProgressLine(),
              "Initializing Warming up OK\n\r\n\rWarming up will run for 10 minutes.During the "
              "Warming up, please do not press any buttons on K5,keep RS232 connection.If you "
              "want to quit the process,please press Exit.\n\r");
    int ticks = 1;
    for (; !page.TickCountdown() && ticks < 1000; ++ticks) {
        if (ticks == 1) {
            EXPECT_EQ(page.Countdown(), "09 : 59");
        }
        if (ticks == 295) {
            EXPECT_EQ(page.Countdown(), "05 : 05");
        }
    }
    EXPECT_EQ(ticks, 601);
    EXPECT_EQ(page.Countdown(), "00 : 00");
    EXPECT_EQ(page.Outcome(), "Warm up accomplish.Please press Next to start calibration.");
    EXPECT_FALSE(page.TickCountdown());
}

// An error or a cancel stops both timers and says what happened.
TEST(WarmUpPage, ErrorAndCancelStopBothTimers) {
    const std::pair<uint32_t, std::string> endings[] = {
        {kWarmUpError,
         "Warm up error.Please double check the connection to the PC and the COM port "
         "selection then try again.\n\r"},
        {kWarmUpCancelled,
         "Warm up cancelled.\n\rPress Next to start the calibration manually or press "
         "Previous to try again.\n\r"},
    };
    for (const auto& [code, outcome] : endings) {
        SCOPED_TRACE(code);
        WarmUpPageModel page;
        page.Show();
        page.Apply(kWarmUpRunning);
        page.Apply(code);
        EXPECT_FALSE(page.CountdownRunning());
        EXPECT_FALSE(page.DotsRunning());
        EXPECT_FALSE(page.TickCountdown());
        EXPECT_EQ(page.Countdown(), "10 : 00");
        EXPECT_EQ(page.Outcome(), outcome);

        WarmUpPageModel initialising;  // the dots still running
        initialising.Show();
        initialising.Apply(code);
        EXPECT_FALSE(initialising.DotsRunning());
        EXPECT_EQ(initialising.Outcome(), outcome);
    }
}

TEST(PageTexts, LineBreaksBecomeSingleLineFeeds) {
    EXPECT_EQ(ToLineFeeds("Looking for K5...\n\r\n\rFound K5 on COM3.\n\r"),
              "Looking for K5...\n\nFound K5 on COM3.\n");
    EXPECT_EQ(ToLineFeeds("a\nb\r\n\n"), "a\nb\r\n\n");  // other breaks pass unchanged
    EXPECT_EQ(ToLineFeeds("\n"), "\n");
}

}  // namespace
}  // namespace k5::veldra
