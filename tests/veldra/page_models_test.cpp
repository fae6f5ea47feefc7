#include <gtest/gtest.h>

#include "veldra/calibration_page_model.h"
#include "veldra/event_codes.h"
#include "veldra/page_texts.h"
#include "veldra/warm_up_page_model.h"

namespace k5::veldra {
namespace {

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
    page.Apply(kCalibPoweringOff);
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
}

TEST(WarmUpPage, CountdownRunsTenMinutesAndFinishesOneTickAfterZero) {
    WarmUpPageModel page;
    page.Show();
    page.Apply(kWarmUpRunning);
    EXPECT_FALSE(page.DotsRunning());
    EXPECT_EQ(page.Countdown(), "10 : 00");
    int ticks = 1;
    for (; !page.TickCountdown() && ticks < 1000; ++ticks) {
        if (ticks == 295) {
            EXPECT_EQ(page.Countdown(), "05 : 05");
        }
    }
    EXPECT_EQ(ticks, 601);
    EXPECT_EQ(page.Countdown(), "00 : 00");
    EXPECT_EQ(page.Outcome(), "Warm up accomplish.Please press Next to start calibration.");
    EXPECT_FALSE(page.TickCountdown());

    page.Show();
    page.Apply(kWarmUpRunning);
    page.Apply(kWarmUpError);
    EXPECT_FALSE(page.TickCountdown());
    EXPECT_EQ(page.Countdown(), "10 : 00");
}

TEST(PageTexts, LineBreaksBecomeSingleLineFeeds) {
    EXPECT_EQ(ToLineFeeds("Looking for K5...\n\r\n\rFound K5 on COM3.\n\r"),
              "Looking for K5...\n\nFound K5 on COM3.\n");
    EXPECT_EQ(ToLineFeeds("a\nb\r\n\n"), "a\nb\r\n\n");
}

}  // namespace
}  // namespace k5::veldra
