#include "veldra/calibration.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "devlink/registers.h"
#include "veldra/calibration_page_model.h"
#include "veldra/event_codes.h"
#include "wizard_fixture.h"

namespace k5::veldra {
namespace {

using namespace std::chrono_literals;

using test::RecordingObserver;
using test::SimOnLink;

// Runs the calibration on its own thread, as the frame does, and feeds every report to a
// calibration page.
struct CalibrationOutcome {
    uint32_t returned = 0;
    std::vector<uint32_t> codes;
    CalibrationPageModel page;
};

CalibrationOutcome Calibrate(SimOnLink& line, ConfigSettings& settings,
                             RecordingObserver& observer) {
    CalibrationOutcome outcome;
    std::thread worker([&] { outcome.returned = RunCalibration(line.Link(), settings, observer); });
    worker.join();
    outcome.codes = observer.Codes();
    outcome.page.Show();
    for (uint32_t code : outcome.codes) {
        outcome.page.Apply(code);
    }
    return outcome;
}

std::vector<uint32_t> KeyWrites(const sim::Simulator& sim) {
    std::vector<uint32_t> codes;
    for (const sim::Request& r : sim.Requests()) {
        if (r.kind == sim::RequestKind::WriteRegister && r.address == kRegKey) {
            codes.push_back(r.value);
        }
    }
    return codes;
}

size_t RegisterRequests(const sim::Simulator& sim) {
    size_t count = 0;
    for (const sim::Request& r : sim.Requests()) {
        count += r.IsFrame() ? 1 : 0;
    }
    return count;
}

const std::string kStart = "Starting the calibration!\n\r\n\r";
const std::string kStep1 = "1) Initializing the K5...  ";
const std::string kStep2 = "2) Measuring the load on K5 output...  ";
const std::string kStep3 = "3) Calculating the parameters...  ";
const std::string kStep4 = "4) Configuring the K5 with calculated parameters...  ";
const std::string kStep5 = "5) Verify the calibration...  ";
const std::string kPowerOffLine = "\n\rK5 Calibration is successful.Now power off the K5...  ";
const std::string kOk = "OK\n\r";
const std::string kFailedCheckConnection =
    "Failed\n\r\n\rPlease power off the K5 manually,double check the connection to the PC and "
    "the COM port selection then try again.\n\r";
const std::string kFailedLoad =
    "Failed\n\r\n\rGet incorrect measured load values.Please power off the K5,check the Post "
    "AMP modules and then try again.\n\r";
const std::string kFailedReadBack =
    "Failed\n\r\n\rK5 has not been configured correctly.Please power off the K5 and try the "
    "calibration again.\n\r";
const std::string kThroughVerify =
    kStart + kStep1 + kOk + kStep2 + kOk + kStep3 + kOk + kStep4 + kOk + kStep5 + kOk;

TEST(Calibration, SuccessfulRunReportsEveryStepTickAndPowersOff) {
    SimOnLink line({.left = 760, .right = 760});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    const CalibrationOutcome outcome = Calibrate(line, settings, observer);

    const uint32_t T = kCalibTick;
    const std::vector<uint32_t> expected = {0,  T, T, T, T, 3,           // initialise: 4 ticks
                                            4,  T, T, T, 3,              // measure: 3
                                            6,  T, T, T, 3,              // calculate: 3
                                            7,  T, T, T, T, 3,           // configure: 4
                                            8,  T, T, T, T, T, T, T, 3,  // verify: 7
                                            10, 3, 12};
    EXPECT_EQ(outcome.codes, expected);
    EXPECT_EQ(observer.CountOf(kCalibTick), 21u);
    EXPECT_EQ(outcome.returned, kCalibComplete);
    for (const WorkerEvent& e : observer.Events()) {
        EXPECT_EQ(e.message, kMsgCalibProgress);
        EXPECT_EQ(e.param, 0);
    }
    EXPECT_EQ(outcome.page.Log(), kThroughVerify + kPowerOffLine + kOk);
    EXPECT_EQ(outcome.page.Position(), 100);

    const sim::AmpState amp = line.Sim().State();
    EXPECT_EQ(amp.stmax, 0xD347D5F0u);
    EXPECT_EQ(amp.stpte, 0x0054229Bu);
    EXPECT_EQ(amp.stclip, 0x0C000000u);
    EXPECT_TRUE(amp.locked);
    EXPECT_EQ(amp.power, sim::Power::Standby);
    EXPECT_FALSE(amp.mute);
    EXPECT_EQ(KeyWrites(line.Sim()), (std::vector<uint32_t>{kKeyWriteUnlock, kKeyWriteLock}));

    EXPECT_EQ(settings.registers[kEntryLeftConductance].value, 760u);
    EXPECT_EQ(settings.registers[kEntryRightConductance].value, 760u);
    EXPECT_EQ(settings.calcPmax, 1520u);
    EXPECT_EQ(settings.calcPc, 667u);
    EXPECT_EQ(settings.calcIp, 839u);
    // The record's STMAX and STPTE entries keep the amplifier's defaults.
    EXPECT_EQ(settings.registers[kEntryStmax].value, 0xD226D5DCu);
}

// Where each step starts and how far its ticks take the bar on the way.
TEST(Calibration, ProgressBarReachesEachStepsMarks) {
    SimOnLink line({.left = 700, .right = 720});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    const CalibrationOutcome outcome = Calibrate(line, settings, observer);
    ASSERT_EQ(outcome.returned, kCalibComplete);

    CalibrationPageModel page;
    page.Show();
    std::vector<int> beforeJump;  // the bar just before each step line and at the end
    for (uint32_t code : outcome.codes) {
        if (code == kCalibMeasuring || code == kCalibCalculating || code == kCalibConfiguring ||
            code == kCalibVerifying || code == kCalibPoweringOff) {
            beforeJump.push_back(page.Position());
        }
        page.Apply(code);
        if (code == kCalibMeasuring || code == kCalibCalculating || code == kCalibConfiguring ||
            code == kCalibVerifying || code == kCalibPoweringOff) {
            beforeJump.push_back(page.Position());
        }
    }
    EXPECT_EQ(beforeJump, (std::vector<int>{8, 10, 25, 30, 45, 60, 68, 80, 94, 98}));
    EXPECT_EQ(page.Position(), 100);
}

// One row per way a run can end early: the fault, the final code, where the bar stops, the
// log as the page holds it and the key codes written.
struct EndingCase {
    const char* name;
    sim::SimConfig config;
    uint32_t finalCode;
    int position;
    std::string log;
    std::vector<uint32_t> keyWrites;
};

class CalibrationEndings : public testing::TestWithParam<EndingCase> {};

TEST_P(CalibrationEndings, EndWithTheirCodeBarAndText) {
    const EndingCase& c = GetParam();
    SimOnLink line(c.config);
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    const CalibrationOutcome outcome = Calibrate(line, settings, observer);

    EXPECT_EQ(outcome.returned, c.finalCode);
    ASSERT_FALSE(outcome.codes.empty());
    EXPECT_EQ(outcome.codes.back(), c.finalCode);
    // Exactly one final code, and it is the last report.
    size_t finals = 0;
    for (uint32_t code : outcome.codes) {
        finals += IsFinalCalibCode(code) ? 1 : 0;
    }
    EXPECT_EQ(finals, 1u);
    EXPECT_EQ(outcome.page.Position(), c.position);
    EXPECT_EQ(outcome.page.Log(), c.log);
    EXPECT_EQ(KeyWrites(line.Sim()), c.keyWrites);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CalibrationEndings,
    testing::Values(EndingCase{"FirstCommandUnanswered",
                               {.ignorePaths = {"Main.Source"}},
                               kCalibFailed,
                               2,
                               kStart + kStep1 + kFailedCheckConnection,
                               {}},
                    EndingCase{"LeftChannelOutOfRange",
                               {.left = 400, .right = 720},
                               kCalibBadLoad,
                               25,
                               kStart + kStep1 + kOk + kStep2 + kFailedLoad,
                               {}},
                    EndingCase{"ChannelsSixtyApart",
                               {.left = 700, .right = 760},
                               kCalibBadLoad,
                               25,
                               kStart + kStep1 + kOk + kStep2 + kFailedLoad,
                               {}},
                    EndingCase{"RegisterRepliesCorrupt",
                               {.corruptChecksum = true},
                               kCalibFailed,
                               15,
                               kStart + kStep1 + kOk + kStep2 + kFailedCheckConnection,
                               {}},
                    EndingCase{"ProtectionWritesRefused",
                               {.refuseWrites = true},
                               kCalibFailed,
                               64,
                               kStart + kStep1 + kOk + kStep2 + kOk + kStep3 + kOk + kStep4 +
                                   kFailedCheckConnection,
                               {kKeyWriteUnlock}},
                    EndingCase{"ReadBackDiffers",
                               {.readbackMismatch = true},
                               kCalibReadBackMismatch,
                               84,
                               kStart + kStep1 + kOk + kStep2 + kOk + kStep3 + kOk + kStep4 + kOk +
                                   kStep5 + kFailedReadBack,
                               {kKeyWriteUnlock, kKeyWriteLock}},
                    EndingCase{"PowerOffUnanswered",
                               {.ignorePaths = {"Main.Power"}},
                               kCalibPowerOffFailed,
                               98,
                               kThroughVerify + kPowerOffLine +
                                   "Failed\n\r\n\rPlease power off the K5 manually.\n\r",
                               {kKeyWriteUnlock, kKeyWriteLock}}),
    [](const testing::TestParamInfo<EndingCase>& param) { return param.param.name; });

TEST(Calibration, LeftOutOfRangeStillMeasuresAndStoresTheRightChannel) {
    SimOnLink line({.left = 400, .right = 720});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    settings.SetRegisterValue(kEntryLeftConductance, 777);
    RecordingObserver observer;
    ASSERT_EQ(Calibrate(line, settings, observer).returned, kCalibBadLoad);
    EXPECT_EQ(settings.registers[kEntryLeftConductance].value, 777u);
    EXPECT_EQ(settings.registers[kEntryRightConductance].value, 720u);
    size_t rightReads = 0;
    for (const sim::Request& r : line.Sim().Requests()) {
        rightReads += r.kind == sim::RequestKind::ReadRegister && r.address == kRegRightHighCont;
    }
    EXPECT_GE(rightReads, 16u);
}

TEST(Calibration, MeasuresTheRegistersTheRecordNames) {
    // Entry 0 pointed at the right channel: both measurements read 0xA111.
    SimOnLink line({.left = 400, .right = 720});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    settings.registers[kEntryLeftConductance].address = kRegRightHighCont;
    RecordingObserver observer;
    EXPECT_EQ(Calibrate(line, settings, observer).returned, kCalibComplete);
    EXPECT_EQ(settings.calcPmax, 1440u);  // Coeff0 720
}

TEST(Calibration, ReadingsOneApartAverageDown) {
    SimOnLink line({.left = 700, .right = 701});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    ASSERT_EQ(Calibrate(line, settings, observer).returned, kCalibComplete);
    EXPECT_EQ(settings.calcPmax, 1400u);  // Coeff0 700
    EXPECT_EQ(line.Sim().State().stmax & 0xFFFu, 1400u);
}

TEST(Calibration, ReadingsFiftyNineApartCalibrateInEitherOrder) {
    for (auto [left, right] : {std::pair{700u, 759u}, std::pair{759u, 700u}}) {
        SimOnLink line({.left = left, .right = right});
        ASSERT_TRUE(line.Ready());
        ConfigSettings settings;
        RecordingObserver observer;
        EXPECT_EQ(Calibrate(line, settings, observer).returned, kCalibComplete);
    }
    SimOnLink line({.left = 760, .right = 700});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    EXPECT_EQ(Calibrate(line, settings, observer).returned, kCalibBadLoad);
}

// A stop seen in one of the run's own pauses ends it with 2 and writes nothing more; a stop
// that falls into a command's pause fails that command instead.
struct CancelCase {
    const char* name;
    uint32_t stopAt;  // the report after which the stop request is made
    uint32_t finalCode;
    int position;
    size_t keyWrites;
};

class CalibrationCancel : public testing::TestWithParam<CancelCase> {};

TEST_P(CalibrationCancel, StopsWhereTheRequestIsSeen) {
    const CancelCase& c = GetParam();
    SimOnLink line({.left = 760, .right = 760});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    bool stopped = false;
    observer.onEvent = [&](const WorkerEvent& e) {
        if (e.code == c.stopAt && !stopped) {
            stopped = true;
            line.Wizard().Cancel().Set();
        }
    };
    const CalibrationOutcome outcome = Calibrate(line, settings, observer);
    EXPECT_EQ(outcome.returned, c.finalCode);
    EXPECT_EQ(outcome.page.Position(), c.position);
    EXPECT_EQ(KeyWrites(line.Sim()).size(), c.keyWrites);
    EXPECT_FALSE(line.Wizard().Cancel().IsSet());
    if (c.finalCode == kCalibCancelled) {
        EXPECT_TRUE(outcome.page.Log().ends_with("...  Cancelled\n\r\n\r"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stops, CalibrationCancel,
    testing::Values(CancelCase{"BeforeMeasuring", kCalibMeasuring, kCalibCancelled, 10, 0},
                    CancelCase{"BeforeCalculating", kCalibCalculating, kCalibCancelled, 30, 0},
                    CancelCase{"BeforeConfiguring", kCalibConfiguring, kCalibCancelled, 60, 0},
                    // The registers stay unlocked: a cancelled run writes no lock.
                    CancelCase{"BeforeVerifying", kCalibVerifying, kCalibCancelled, 80, 1},
                    CancelCase{"InsideTheFirstCommand", kCalibInitializing, kCalibFailed, 2, 0}),
    [](const testing::TestParamInfo<CancelCase>& param) { return param.param.name; });

TEST(Calibration, CancelBeforeMeasuringSendsNoRegisterFrame) {
    SimOnLink line({});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    observer.onEvent = [&](const WorkerEvent& e) {
        if (e.code == kCalibMeasuring) {
            line.Wizard().Cancel().Set();
        }
    };
    ASSERT_EQ(Calibrate(line, settings, observer).returned, kCalibCancelled);
    EXPECT_EQ(RegisterRequests(line.Sim()), 0u);
}

TEST(Calibration, LineHangingUpMidMeasurementFails) {
    // Four commands, then the first register read; the line goes as the second read arrives.
    SimOnLink line({.hangUpAfter = 6});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    const CalibrationOutcome outcome = Calibrate(line, settings, observer);
    EXPECT_EQ(outcome.returned, kCalibFailed);
    EXPECT_EQ(outcome.page.Position(), 15);  // step 2 at 10, one tick for the left channel
}

}  // namespace
}  // namespace k5::veldra
