#include "veldra/calibration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "devlink/registers.h"
#include "veldra/calibration_page_model.h"
#include "veldra/event_codes.h"
#include "wizard_fixture.h"

namespace k5::veldra {
namespace {

using test::RecordingObserver;
using test::SimOnLink;

// Runs the calibration on its own thread, as the frame does, and shows every report on a
// calibration page. Returns the run's final code.
uint32_t Calibrate(SimOnLink& line, ConfigSettings& settings, RecordingObserver& observer,
                   CalibrationPageModel& page) {
    uint32_t returned = 0;
    std::thread([&] { returned = RunCalibration(line.Link(), settings, observer); }).join();
    page.Show();
    for (uint32_t code : observer.Codes()) {
        page.Apply(code);
    }
    return returned;
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

size_t RegisterFrames(const sim::Simulator& sim) {
    const std::vector<sim::Request> requests = sim.Requests();
    return static_cast<size_t>(std::count_if(requests.begin(), requests.end(),
                                             [](const sim::Request& r) { return r.IsFrame(); }));
}

const std::string kStart = "Starting the calibration!\n\r\n\r";
const std::string kStep1 = kStart + "1) Initializing the K5...  ";
const std::string kStep2 = kStep1 + "OK\n\r2) Measuring the load on K5 output...  ";
const std::string kStep4 = kStep2 +
                           "OK\n\r3) Calculating the parameters...  OK\n\r4) Configuring the K5 "
                           "with calculated parameters...  ";
const std::string kStep5 = kStep4 + "OK\n\r5) Verify the calibration...  ";
const std::string kPowerOff =
    kStep5 + "OK\n\r\n\rK5 Calibration is successful.Now power off the K5...  ";
const std::string kFailedCheck =
    "Failed\n\r\n\rPlease power off the K5 manually,double check the connection to the PC and "
    "the COM port selection then try again.\n\r";
const std::string kFailedLoad =
    "Failed\n\r\n\rGet incorrect measured load values.Please power off the K5,check the Post "
    "AMP modules and then try again.\n\r";

TEST(Calibration, SuccessfulRunReportsEveryStepTickAndPowersOff) {
    SimOnLink line({.left = 760, .right = 760});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    CalibrationPageModel page;
    EXPECT_EQ(Calibrate(line, settings, observer, page), kCalibComplete);

    const uint32_t T = kCalibTick;
    EXPECT_EQ(observer.Codes(),
              (std::vector<uint32_t>{0, T, T, T, T, 3, 4, T, T, T, 3, 6, T, T, T,  3, 7,
                                     T, T, T, T, 3, 8, T, T, T, T, T, T, T, 3, 10, 3, 12}));
    for (const WorkerEvent& e : observer.Events()) {
        EXPECT_EQ(e.message, kMsgCalibProgress);
        EXPECT_EQ(e.param, 0);
    }
    EXPECT_EQ(page.Log(), kPowerOff + "OK\n\r");
    EXPECT_EQ(page.Position(), 100);

    const sim::AmpState amp = line.Sim().State();
    EXPECT_EQ(amp.stmax, 0xD347D5F0u);
    EXPECT_EQ(amp.stpte, 0x0054229Bu);
    EXPECT_EQ(amp.stclip, 0x0C000000u);
    EXPECT_TRUE(amp.locked);
    EXPECT_FALSE(amp.mute);
    EXPECT_EQ(amp.power, sim::Power::Standby);
    EXPECT_EQ(KeyWrites(line.Sim()), (std::vector<uint32_t>{kKeyWriteUnlock, kKeyWriteLock}));
    EXPECT_EQ(settings.registers[kEntryLeftConductance].value, 760u);
    EXPECT_EQ(settings.registers[kEntryRightConductance].value, 760u);
    EXPECT_EQ(settings.calcPmax, 1520u);
    EXPECT_EQ(settings.calcPc, 667u);
    EXPECT_EQ(settings.calcIp, 839u);
    EXPECT_EQ(settings.registers[kEntryStmax].value, 0xD226D5DCu);  // entries 2, 3 untouched
}

// Where each step line puts the bar, and how far that step's ticks take it: the bar just
// before and just after each step line, and at the end.
TEST(Calibration, ProgressBarReachesEachStepsMarks) {
    SimOnLink line({.left = 700, .right = 720});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    CalibrationPageModel finished;
    ASSERT_EQ(Calibrate(line, settings, observer, finished), kCalibComplete);

    const auto isStepLine = [](uint32_t code) {
        return code == kCalibMeasuring || code == kCalibCalculating || code == kCalibConfiguring ||
               code == kCalibVerifying || code == kCalibPoweringOff;
    };
    CalibrationPageModel page;
    page.Show();
    std::vector<int> aroundJumps;
    for (uint32_t code : observer.Codes()) {
        if (isStepLine(code)) {
            aroundJumps.push_back(page.Position());
        }
        page.Apply(code);
        if (isStepLine(code)) {
            aroundJumps.push_back(page.Position());
        }
    }
    EXPECT_EQ(aroundJumps, (std::vector<int>{8, 10, 25, 30, 45, 60, 68, 80, 94, 98}));
    EXPECT_EQ(page.Position(), 100);
}

// Each way a run ends early: the final code (the only one, and the last report), where the
// bar stops, the page's log and the key codes written.
struct Ending {
    const char* name;
    sim::SimConfig config;
    uint32_t code;
    int position;
    std::string log;
    std::vector<uint32_t> keys;
};

class CalibrationEnding : public testing::TestWithParam<Ending> {};

TEST_P(CalibrationEnding, EndsWithItsCodeBarAndText) {
    const Ending& c = GetParam();
    SimOnLink line(c.config);
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    CalibrationPageModel page;
    EXPECT_EQ(Calibrate(line, settings, observer, page), c.code);
    const std::vector<uint32_t> codes = observer.Codes();
    EXPECT_EQ(std::count_if(codes.begin(), codes.end(), IsFinalCalibCode), 1);
    EXPECT_EQ(codes.back(), c.code);
    EXPECT_EQ(page.Position(), c.position);
    EXPECT_EQ(page.Log(), c.log);
    EXPECT_EQ(KeyWrites(line.Sim()), c.keys);
}

const uint32_t kUnlock = kKeyWriteUnlock;
const uint32_t kLock = kKeyWriteLock;

INSTANTIATE_TEST_SUITE_P(
    Faults, CalibrationEnding,
    testing::Values(
        Ending{"FirstCommandUnanswered",
               {.ignorePaths = {"Main.Source"}},
               kCalibFailed,
               2,
               kStep1 + kFailedCheck,
               {}},
        Ending{"LeftOutOfRange", {.left = 400}, kCalibBadLoad, 25, kStep2 + kFailedLoad, {}},
        Ending{
            "SixtyApart", {.left = 700, .right = 760}, kCalibBadLoad, 25, kStep2 + kFailedLoad, {}},
        Ending{"SixtyApartTheOtherWay",
               {.left = 760, .right = 700},
               kCalibBadLoad,
               25,
               kStep2 + kFailedLoad,
               {}},
        Ending{"CorruptRegisterReplies",
               {.corruptChecksum = true},
               kCalibFailed,
               15,
               kStep2 + kFailedCheck,
               {}},
        // Four commands and the first register read; the line goes as the second read
        // arrives, after one tick for the left channel.
        Ending{"LineHangsUpMidMeasurement",
               {.hangUpAfter = 6},
               kCalibFailed,
               15,
               kStep2 + kFailedCheck,
               {}},
        // A refused write leaves the registers unlocked: nothing more is sent.
        Ending{"WritesRefused",
               {.refuseWrites = true},
               kCalibFailed,
               64,
               kStep4 + kFailedCheck,
               {kUnlock}},
        Ending{"ReadBackDiffers",
               {.readbackMismatch = true},
               kCalibReadBackMismatch,
               84,
               kStep5 + "Failed\n\r\n\rK5 has not been configured correctly.Please power off "
                        "the K5 and try the calibration again.\n\r",
               {kUnlock, kLock}},
        Ending{"PowerOffUnanswered",
               {.ignorePaths = {"Main.Power"}},
               kCalibPowerOffFailed,
               98,
               kPowerOff + "Failed\n\r\n\rPlease power off the K5 manually.\n\r",
               {kUnlock, kLock}}),
    [](const testing::TestParamInfo<Ending>& param) { return param.param.name; });

// A stop seen in one of the run's own pauses ends it with 2 and writes nothing more (not
// even the lock); a stop that falls into a command's pause fails that command with 1.
struct Stop {
    const char* name;
    uint32_t after;  // the report after which the stop request is made
    uint32_t code;
    int position;
    size_t keys;
    bool framesSent;  // whether any register frame reached the amplifier
};

class CalibrationStop : public testing::TestWithParam<Stop> {};

TEST_P(CalibrationStop, EndsWhereTheRequestIsSeen) {
    const Stop& c = GetParam();
    SimOnLink line({});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    observer.onEvent = [&](const WorkerEvent& e) {
        if (e.code == c.after) {
            line.Wizard().Cancel().Set();
        }
    };
    CalibrationPageModel page;
    EXPECT_EQ(Calibrate(line, settings, observer, page), c.code);
    EXPECT_EQ(page.Position(), c.position);
    EXPECT_EQ(KeyWrites(line.Sim()).size(), c.keys);
    EXPECT_EQ(RegisterFrames(line.Sim()) > 0, c.framesSent);
    EXPECT_FALSE(line.Wizard().Cancel().IsSet());
    EXPECT_EQ(page.Log().ends_with("...  Cancelled\n\r\n\r"), c.code == kCalibCancelled);
}

INSTANTIATE_TEST_SUITE_P(
    Stops, CalibrationStop,
    testing::Values(Stop{"BeforeMeasuring", kCalibMeasuring, kCalibCancelled, 10, 0, false},
                    Stop{"BeforeCalculating", kCalibCalculating, kCalibCancelled, 30, 0, true},
                    Stop{"BeforeConfiguring", kCalibConfiguring, kCalibCancelled, 60, 0, true},
                    Stop{"BeforeVerifying", kCalibVerifying, kCalibCancelled, 80, 1, true},
                    Stop{"InsideTheFirstCommand", kCalibInitializing, kCalibFailed, 2, 0, false}),
    [](const testing::TestParamInfo<Stop>& param) { return param.param.name; });

TEST(Calibration, LeftOutOfRangeStillMeasuresAndStoresTheRight) {
    SimOnLink line({.left = 400, .right = 720});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    settings.SetRegisterValue(kEntryLeftConductance, 777);
    RecordingObserver observer;
    CalibrationPageModel page;
    ASSERT_EQ(Calibrate(line, settings, observer, page), kCalibBadLoad);
    EXPECT_EQ(settings.registers[kEntryLeftConductance].value, 777u);
    EXPECT_EQ(settings.registers[kEntryRightConductance].value, 720u);
    size_t rightReads = 0;
    for (const sim::Request& r : line.Sim().Requests()) {
        rightReads += r.kind == sim::RequestKind::ReadRegister && r.address == kRegRightHighCont;
    }
    EXPECT_GE(rightReads, 16u);
}

// A difference of 59 is still balanced, whichever channel reads higher: the run passes the
// balance check into step 3, where a stop ends it.
TEST(Calibration, ReadingsFiftyNineApartPassTheBalanceCheckInEitherOrder) {
    for (auto [left, right] : {std::pair{700u, 759u}, std::pair{759u, 700u}}) {
        SCOPED_TRACE(left);
        SimOnLink line({.left = left, .right = right});
        ASSERT_TRUE(line.Ready());
        ConfigSettings settings;
        RecordingObserver observer;
        observer.onEvent = [&](const WorkerEvent& e) {
            if (e.code == kCalibCalculating) {
                line.Wizard().Cancel().Set();
            }
        };
        CalibrationPageModel page;
        EXPECT_EQ(Calibrate(line, settings, observer, page), kCalibCancelled);
        EXPECT_EQ(page.Position(), 30);
        EXPECT_EQ(settings.registers[kEntryLeftConductance].value, left);
        EXPECT_EQ(settings.registers[kEntryRightConductance].value, right);
    }
}

TEST(Calibration, MeasuresTheRegistersTheRecordNamesAndAveragesDown) {
    // Entry 0 names the right channel: both measurements read 701 from 0xA111.
    SimOnLink line({.left = 400, .right = 701});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    settings.registers[kEntryLeftConductance].address = kRegRightHighCont;
    RecordingObserver observer;
    CalibrationPageModel page;
    ASSERT_EQ(Calibrate(line, settings, observer, page), kCalibComplete);
    EXPECT_EQ(settings.calcPmax, 1402u);

    SimOnLink oneApart({.left = 700, .right = 701});
    ASSERT_TRUE(oneApart.Ready());
    ConfigSettings fresh;
    RecordingObserver again;
    ASSERT_EQ(Calibrate(oneApart, fresh, again, page), kCalibComplete);
    EXPECT_EQ(oneApart.Sim().State().stmax & 0xFFFu, 1400u);  // Coeff0 700
}

}  // namespace
}  // namespace k5::veldra
