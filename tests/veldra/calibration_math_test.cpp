#include "veldra/calibration_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace k5::veldra {
namespace {

UserSettings Defaults() {
    return ConfigSettings().TakeUserSettings();
}

struct Example {
    uint32_t coeff0;
    uint32_t calcPmax;
    uint32_t calcPc;
    uint32_t calcIp;
    uint32_t stmax;
    uint32_t stpte;
};

// The three worked examples with the default settings: the middle of the accepted range and
// both of its ends.
TEST(CalibrationMath, WorkedExamplesWithDefaultSettings) {
    const Example examples[] = {
        {760, 1520, 667, 839, 0xD347D5F0, 0x0054229B},
        {550, 1100, 533, 741, 0xD2E5D44C, 0x00542215},
        {900, 1800, 735, 859, 0xD35BD708, 0x005422DF},
    };
    for (const Example& e : examples) {
        SCOPED_TRACE(e.coeff0);
        const CalibrationValues v = CalculateCalibration(e.coeff0, Defaults());
        EXPECT_EQ(v.calcPmax, e.calcPmax);
        EXPECT_EQ(v.calcPc, e.calcPc);
        EXPECT_EQ(v.calcIp, e.calcIp);
        EXPECT_EQ(v.stmax, e.stmax);
        EXPECT_EQ(v.stpte, e.stpte);
        EXPECT_EQ(v.stclip, 0x0C000000u);
    }
    const CalibrationValues middle = CalculateCalibration(760, Defaults());
    EXPECT_EQ(middle.k, 1.0);
    EXPECT_DOUBLE_EQ(middle.coeff2, 1264.64);
    EXPECT_DOUBLE_EQ(CalculateCalibration(550, Defaults()).k, 1.105);
}

// The Pc term is grouped ((pc x Coeff2) x 3.8 / pref) x 0.5. Folding the constants first, as
// the configuration tool does, lands this case just below 1178 and truncates to 1177.
TEST(CalibrationMath, PcTermKeepsItsOwnGrouping) {
    UserSettings s = Defaults();
    s.pmax = 2530;
    s.pc = 625;
    s.ip = 188;
    s.pref = 1404;
    const CalibrationValues v = CalculateCalibration(900, s);
    EXPECT_EQ(v.calcPc, 1178u);
    EXPECT_EQ(v.calcPmax, 5838u);
    EXPECT_EQ(v.calcIp, 3593u);
}

TEST(CalibrationMath, ChannelBalanceAndMean) {
    EXPECT_FALSE(ChannelsUnbalanced(700, 759));
    EXPECT_TRUE(ChannelsUnbalanced(700, 760));
    EXPECT_TRUE(ChannelsUnbalanced(760, 700));
    EXPECT_EQ(Coeff0(700, 701), 700u);
    EXPECT_EQ(Coeff0(4095, 4095), 4095u);
}

TEST(CalibrationMath, ClipLadderTakesTheStepOfAThresholdItLandsOn) {
    EXPECT_EQ(ClipLadder(0.8125f), 0x0C000000u);
    EXPECT_EQ(ClipLadder(0.75f), 0x10000000u);
    EXPECT_EQ(ClipLadder(0.765625f), 0x0F000000u);
    EXPECT_EQ(ClipLadder(0.984375f), 0x01000000u);
    EXPECT_EQ(ClipLadder(1.0f), 0x01000000u);
    EXPECT_EQ(ClipLadder(0.28125f), 0x1F000000u);
    EXPECT_EQ(ClipLadder(0.0f), 0x1F000000u);
    EXPECT_EQ(ClipLadder(0.3125f), 0x1E000000u);
    // Just above a threshold falls to the next lower step.
    EXPECT_EQ(ClipLadder(std::nextafter(0.75f, 1.0f)), 0x0F000000u);
    EXPECT_EQ(ClipLadder(std::nextafter(0.28125f, 1.0f)), 0x1E000000u);
    // The float nearest 0.9 lies between 57/64 and 58/64: step 6.
    EXPECT_EQ(ClipLadder(0.9f), 0x06000000u);
}

TEST(CalibrationMath, ClipSettingBeyondTheLadderGetsTheTopStep) {
    EXPECT_EQ(ClipLadder(1.5f), 0x01000000u);
    EXPECT_EQ(ClipLadder(std::numeric_limits<float>::quiet_NaN()), 0x01000000u);
}

TEST(CalibrationMath, TruncationTowardZeroWithoutUndefinedConversions) {
    EXPECT_EQ(TruncateToUnsigned(839.999), 839u);
    EXPECT_EQ(TruncateToUnsigned(4294967295.5), 4294967295u);
    EXPECT_EQ(TruncateToUnsigned(4294967296.0), 0u);
    EXPECT_EQ(TruncateToUnsigned(-0.5), 0u);
    EXPECT_EQ(TruncateToUnsigned(-3.0), 0u);
    EXPECT_EQ(TruncateToUnsigned(std::numeric_limits<double>::quiet_NaN()), 0u);
    // A reading far above the accepted range makes k negative; the run never gets here with
    // the wizard's bounds, but the arithmetic must stay defined.
    const CalibrationValues v = CalculateCalibration(4095, Defaults());
    EXPECT_LT(v.k, 0.0);
    EXPECT_EQ(v.calcPmax, 8190u);
    EXPECT_EQ(v.calcPc, 0u);
}

TEST(CalibrationMath, RegisterLayouts) {
    EXPECT_EQ(ComposeStmax(0, 0), 0xD000D000u);
    EXPECT_EQ(ComposeStpte(0x28A, 2, 2, 5), 0x0054228Au);  // the amplifier's default STPTE
    EXPECT_EQ(ComposeStmax(0x5DC, 0x226), 0xD226D5DCu);    // and its default STMAX
}

}  // namespace
}  // namespace k5::veldra
