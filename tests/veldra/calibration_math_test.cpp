#include "veldra/calibration_math.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace k5::veldra {
namespace {

// The three worked examples with the default settings: the middle of the accepted range and
// both of its ends.
TEST(CalibrationMath, WorkedExamplesWithDefaultSettings) {
    struct Example {
        uint32_t coeff0, calcPmax, calcPc, calcIp, stmax, stpte;
    };
    for (const Example& e : {Example{760, 1520, 667, 839, 0xD347D5F0, 0x0054229B},
                             Example{550, 1100, 533, 741, 0xD2E5D44C, 0x00542215},
                             Example{900, 1800, 735, 859, 0xD35BD708, 0x005422DF}}) {
        SCOPED_TRACE(e.coeff0);
        const CalibrationValues v =
            CalculateCalibration(e.coeff0, ConfigSettings().TakeUserSettings());
        EXPECT_EQ(v.calcPmax, e.calcPmax);
        EXPECT_EQ(v.calcPc, e.calcPc);
        EXPECT_EQ(v.calcIp, e.calcIp);
        EXPECT_EQ(v.stmax, e.stmax);
        EXPECT_EQ(v.stpte, e.stpte);
        EXPECT_EQ(v.stclip, 0x0C000000u);
    }
    const CalibrationValues middle = CalculateCalibration(760, ConfigSettings().TakeUserSettings());
    EXPECT_EQ(middle.k, 1.0);
    EXPECT_DOUBLE_EQ(middle.coeff2, 1264.64);
    EXPECT_DOUBLE_EQ(CalculateCalibration(550, ConfigSettings().TakeUserSettings()).k, 1.105);
}

// The wizard's settings are fixed at the defaults and its measurement accepts only averages
// within their conductance range, so no register field can outgrow its 12 bits: the largest
// values come at the top of the range.
TEST(CalibrationMath, FixedSettingsKeepEveryFieldWithinTwelveBits) {
    const UserSettings settings = ConfigSettings().TakeUserSettings();
    CalibrationValues largest;
    for (uint32_t coeff0 = settings.conductanceMin; coeff0 <= settings.conductanceMax; ++coeff0) {
        const CalibrationValues v = CalculateCalibration(coeff0, settings);
        ASSERT_LE(v.calcPmax, 0xFFFu) << coeff0;
        ASSERT_LE(v.calcPc, 0xFFFu) << coeff0;
        ASSERT_LE(v.calcIp, 0xFFFu) << coeff0;
        largest.calcPmax = std::max(largest.calcPmax, v.calcPmax);
        largest.calcPc = std::max(largest.calcPc, v.calcPc);
        largest.calcIp = std::max(largest.calcIp, v.calcIp);
    }
    EXPECT_EQ(largest.calcPmax, 1800u);
    EXPECT_EQ(largest.calcPc, 735u);
    EXPECT_EQ(largest.calcIp, 859u);
}

// The Pc term is grouped ((pc x Coeff2) x 3.8 / pref) x 0.5. Folding the constants first, as
// the configuration tool does, lands this case just below 1178 and truncates to 1177.
TEST(CalibrationMath, PcTermKeepsItsOwnGrouping) {
    UserSettings s = ConfigSettings().TakeUserSettings();
    s.pmax = 2530;
    s.pc = 625;
    s.ip = 188;
    s.pref = 1404;
    const CalibrationValues v = CalculateCalibration(900, s);
    EXPECT_EQ(v.calcPc, 1178u);
    // The other two terms take their own settings, not the defaults.
    EXPECT_EQ(v.calcPmax, 5838u);
    EXPECT_EQ(v.calcIp, 3593u);
}

TEST(CalibrationMath, ClipLadderTakesTheStepOfAThresholdItLandsOn) {
    const std::pair<float, uint32_t> cases[] = {
        {0.8125f, 0x0C},
        {0.75f, 0x10},
        {0.765625f, 0x0F},
        {0.984375f, 0x01},
        {1.0f, 0x01},
        {0.28125f, 0x1F},
        {0.0f, 0x1F},
        {0.3125f, 0x1E},
        {std::nextafter(0.75f, 1.0f), 0x0F},  // just above a threshold: the next step down
        {std::nextafter(0.28125f, 1.0f), 0x1E},
        {0.9f, 0x06},  // the float nearest 0.9 is below 58/64
        {1.5f, 0x01},
        {std::numeric_limits<float>::quiet_NaN(), 0x01},  // beyond the ladder
    };
    for (const auto& [cp, step] : cases) {
        EXPECT_EQ(ClipLadder(cp), step << 24) << cp;
    }
}

TEST(CalibrationMath, BalanceAndTruncationEdges) {
    EXPECT_FALSE(ChannelsUnbalanced(700, 759));
    EXPECT_TRUE(ChannelsUnbalanced(700, 760));  // a difference of exactly 60 is too much
    EXPECT_TRUE(ChannelsUnbalanced(760, 700));
    EXPECT_EQ(Coeff0(700, 701), 700u);  // the mean truncates
    EXPECT_EQ(Coeff0(4095, 4095), 4095u);
    EXPECT_EQ(TruncateToUnsigned(839.999), 839u);
    EXPECT_EQ(TruncateToUnsigned(4294967295.5), 4294967295u);
    EXPECT_EQ(TruncateToUnsigned(4294967296.0), 0u);
    EXPECT_EQ(TruncateToUnsigned(-0.5), 0u);
    EXPECT_EQ(TruncateToUnsigned(-3.0), 0u);
    EXPECT_EQ(TruncateToUnsigned(std::numeric_limits<double>::quiet_NaN()), 0u);
    // Far above the accepted range k turns negative; the fields must still be defined.
    const CalibrationValues far = CalculateCalibration(4095, ConfigSettings().TakeUserSettings());
    EXPECT_LT(far.k, 0.0);
    EXPECT_EQ(far.calcPmax, 8190u);
    EXPECT_EQ(far.calcPc, 0u);
}

TEST(CalibrationMath, RegisterLayouts) {
    EXPECT_EQ(ComposeStmax(0, 0), 0xD000D000u);
    EXPECT_EQ(ComposeStpte(0x28A, 2, 2, 5), 0x0054228Au);  // the amplifier's default STPTE
    EXPECT_EQ(ComposeStmax(0x5DC, 0x226), 0xD226D5DCu);    // and its default STMAX
}

}  // namespace
}  // namespace k5::veldra
