#include "torvik/configuration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "devlink/registers.h"
#include "sim_fixture.h"
#include "tests/support/case_name.h"
#include "torvik/result_texts.h"

namespace k5::torvik {
namespace {

using k5::test::ByCaseName;
using test::SimLink;

// Collects what a run reports; `onLog` lets a test act at a given point of the run, on the
// run's own thread.
class RecordingObserver : public ConfigurationObserver {
public:
    std::function<void(std::string_view)> onLog;

    void AppendLog(std::string_view text) override {
        {
            std::lock_guard lock(mutex_);
            log_.append(text);
        }
        if (onLog) {
            onLog(text);
        }
    }
    void Complete(int resultCode) override {
        std::lock_guard lock(mutex_);
        results_.push_back(resultCode);
    }

    std::string Log() const {
        std::lock_guard lock(mutex_);
        return log_;
    }
    std::vector<int> Results() const {
        std::lock_guard lock(mutex_);
        return results_;
    }

private:
    mutable std::mutex mutex_;
    std::string log_;
    std::vector<int> results_;
};

// Runs the procedure on a worker thread, as the window does.
void RunOnWorker(SimLink& line, ConfigSettings& settings, RecordingObserver& observer) {
    std::thread worker([&] { RunConfiguration(line.Link(), settings, observer); });
    worker.join();
}

const std::string kIdentified =
    "Start K5 Power AMP Configuration processing\n"
    "\nInitializing K5...OK\n"
    "\nConfiguring K5...\n"
    "1) Select input to COAX1...OK\n"
    "2) DSP oscillator mode,generate 1KHz signal with 96K sample rate...OK\n"
    "3) Volume = -8dB...OK\n"
    "\nGet high signal conductance value...\n";

const std::string kFirstExampleLog =
    kIdentified +
    "Left High signal conductance value is: 760(0x2f8)\n"
    "Right High signal conductance value is: 760(0x2f8)\n"
    "High signal conductance value is: 760(0x2f8)\n"
    "\nCalculating coefficients...\n"
    "\nCoeff0 = 760(0x2f8)\n"
    "Coeff2 = 1264.64000\n"
    "Coeff1 = 1977.89696\n"
    "\nCalculating register setting values...\n"
    "Calculated Pmax = 1520(0x5f0)\n"
    "Calculated Pc = 667(0x29b)\n"
    "Calculated Ip = 839(0x347)\n"
    "\nGet the register values according to the calulated results...\n"
    "REG STMAX = 0XD347D5F0\n"
    "REG STPTE = 0X0054229B\n"
    "REG STCLIP = 0X0C000000\n"
    "\nSend new register values to K5...\n"
    "Reg STMAX is sent.\n"
    "Reg STPTE is sent.\n"
    "Reg STCLIP is sent.\n"
    "\nVerify the modified register values...\n"
    "Reg STMAX is verified.\n"
    "Reg STPTE is verified.\n"
    "Reg STCLIP is verified.\n"
    "\nCalculating the output parameters...\n"
    "Max power at 2ohms is: 540\n"
    "Max power at 2ohms(I limit) is: 792\n"
    "Continuous power at 4ohms is: 197\n";

// The key-register codes the amplifier received, in order.
std::vector<uint32_t> KeyWrites(const sim::Simulator& sim) {
    std::vector<uint32_t> codes;
    for (const sim::Request& request : sim.Requests()) {
        if (request.kind == sim::RequestKind::WriteRegister && request.address == kRegKey) {
            codes.push_back(request.value);
        }
    }
    return codes;
}

size_t TextRequests(const sim::Simulator& sim, std::string_view text) {
    size_t count = 0;
    for (const sim::Request& request : sim.Requests()) {
        count += request.kind == sim::RequestKind::Text && request.text == text ? 1 : 0;
    }
    return count;
}

TEST(ConfigurationRun, FirstWorkedExampleEndToEnd) {
    SimLink line({.left = 760, .right = 760});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);

    EXPECT_EQ(observer.Log(), kFirstExampleLog);
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultSuccess});

    // The amplifier holds the values, locked again, and stays in its test state.
    const sim::AmpState state = line.Sim().State();
    EXPECT_EQ(state.stmax, 0xD347D5F0u);
    EXPECT_EQ(state.stpte, 0x0054229Bu);
    EXPECT_EQ(state.stclip, 0x0C000000u);
    EXPECT_TRUE(state.locked);
    EXPECT_TRUE(state.InTestState());
    EXPECT_EQ(KeyWrites(line.Sim()), (std::vector<uint32_t>{kKeyWriteUnlock, kKeyWriteLock}));

    // What the status view shows afterwards.
    EXPECT_EQ(settings.calcPmax, 1520u);
    EXPECT_EQ(settings.calcPc, 667u);
    EXPECT_EQ(settings.calcIp, 839u);
    EXPECT_EQ(settings.registers[0].value, 760u);
    EXPECT_EQ(settings.registers[1].value, 760u);
    EXPECT_EQ(settings.registers[2].value, 0xD347D5F0u);
    EXPECT_EQ(settings.registers[3].value, 0x0054229Bu);
}

TEST(ConfigurationRun, SecondWorkedExampleEndToEnd) {
    SimLink line({.left = 700, .right = 720});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);

    EXPECT_EQ(observer.Log(), kIdentified +
                                  "Left High signal conductance value is: 700(0x2bc)\n"
                                  "Right High signal conductance value is: 720(0x2d0)\n"
                                  "High signal conductance value is: 710(0x2c6)\n"
                                  "\nCalculating coefficients...\n"
                                  "\nCoeff0 = 710(0x2c6)\n"
                                  "Coeff2 = 1210.97600\n"
                                  "Coeff1 = 1941.31563\n"
                                  "\nCalculating register setting values...\n"
                                  "Calculated Pmax = 1420(0x58c)\n"
                                  "Calculated Pc = 639(0x27f)\n"
                                  "Calculated Ip = 823(0x337)\n"
                                  "\nGet the register values according to the calulated "
                                  "results...\n"
                                  "REG STMAX = 0XD337D58C\n"
                                  "REG STPTE = 0X0054227F\n"
                                  "REG STCLIP = 0X0C000000\n"
                                  "\nSend new register values to K5...\n"
                                  "Reg STMAX is sent.\n"
                                  "Reg STPTE is sent.\n"
                                  "Reg STCLIP is sent.\n"
                                  "\nVerify the modified register values...\n"
                                  "Reg STMAX is verified.\n"
                                  "Reg STPTE is verified.\n"
                                  "Reg STCLIP is verified.\n"
                                  "\nCalculating the output parameters...\n"
                                  "Max power at 2ohms is: 527\n"
                                  "Max power at 2ohms(I limit) is: 831\n"
                                  "Continuous power at 4ohms is: 202\n");
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultSuccess});
}

TEST(ConfigurationRun, StandbyAmplifierIsSwitchedOn) {
    SimLink line({.left = 760,
                  .right = 760,
                  .standby = true,
                  .switchOnDelay = std::chrono::milliseconds(20)});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);

    EXPECT_EQ(observer.Log(), kFirstExampleLog);
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultSuccess});
    EXPECT_EQ(TextRequests(line.Sim(), "Main.Power=On"), 1u);
    EXPECT_EQ(TextRequests(line.Sim(), "Main.Power?"), 1u);
}

// The failure paths: the log up to the failing step, then one result code.
struct NoK5Case {
    const char* name;
    sim::SimConfig config;
};

class NoK5Answering : public testing::TestWithParam<NoK5Case> {};

TEST_P(NoK5Answering, EndsAfterTheFirstLine) {
    SimLink line(GetParam().config);
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);
    EXPECT_EQ(observer.Log(), "Start K5 Power AMP Configuration processing\n");
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultNoK5});
}

const NoK5Case kNoK5Cases[] = {
    {"silent", {.silent = true}},
    {"another model", {.model = "K4"}},
};
INSTANTIATE_TEST_SUITE_P(ConfigurationRun, NoK5Answering, testing::ValuesIn(kNoK5Cases),
                         ByCaseName());

TEST(ConfigurationRun, PowerStateNeitherOnNorOffIsAConnectionError) {
    SimLink line({.powerAnswer = "Unknown"});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);
    EXPECT_EQ(observer.Log(), "Start K5 Power AMP Configuration processing\n\nInitializing K5...");
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultConnectionError});
    EXPECT_EQ(TextRequests(line.Sim(), "Main.Power?"), 2u);
    EXPECT_EQ(TextRequests(line.Sim(), "Main.Power=On"), 0u);
}

TEST(ConfigurationRun, UnansweredTestToneIsAConnectionError) {
    SimLink line({.ignorePaths = {"Dsp.Test"}});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);
    EXPECT_EQ(observer.Log(),
              "Start K5 Power AMP Configuration processing\n"
              "\nInitializing K5...OK\n"
              "\nConfiguring K5...\n"
              "1) Select input to COAX1...OK\n"
              "2) DSP oscillator mode,generate 1KHz signal with 96K sample rate...");
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultConnectionError});
}

TEST(ConfigurationRun, LeftChannelOutOfRange) {
    SimLink line({.left = 500, .right = 720});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    settings.registers[0].value = 0x1234;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);

    EXPECT_EQ(observer.Log(), kIdentified +
                                  "Left High signal conductance value is: 500(0x1f4)\n"
                                  "Right High signal conductance value is: 720(0x2d0)\n");
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultConductanceRange});
    // Only the in-range reading is kept; nothing was calculated or written.
    EXPECT_EQ(settings.registers[0].value, 0x1234u);
    EXPECT_EQ(settings.registers[1].value, 720u);
    EXPECT_EQ(settings.calcPmax, 0u);
    EXPECT_EQ(settings.registers[2].value, 0xD226D5DCu);
    EXPECT_TRUE(KeyWrites(line.Sim()).empty());
}

TEST(ConfigurationRun, RangeBoundsAreInclusive) {
    SimLink line({.left = 550, .right = 600});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    settings.conductanceMax = 600;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultSuccess});
    EXPECT_NE(observer.Log().find("High signal conductance value is: 575(0x23f)\n"),
              std::string::npos);
}

TEST(ConfigurationRun, ChannelsSixtyApartAreRefused) {
    SimLink line({.left = 600, .right = 660});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);
    EXPECT_EQ(observer.Log(), kIdentified +
                                  "Left High signal conductance value is: 600(0x258)\n"
                                  "Right High signal conductance value is: 660(0x294)\n");
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultConductanceBalance});
    // Both readings were in range, so both are kept.
    EXPECT_EQ(settings.registers[0].value, 600u);
    EXPECT_EQ(settings.registers[1].value, 660u);
}

TEST(ConfigurationRun, ChannelsFiftyNineApartAreNotRefused) {
    SimLink line({.left = 659, .right = 600});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultSuccess});
    EXPECT_NE(observer.Log().find("High signal conductance value is: 629(0x275)\n"),
              std::string::npos);
}

TEST(ConfigurationRun, OddSumRoundsDown) {
    SimLink line({.left = 700, .right = 721});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultSuccess});
    EXPECT_NE(observer.Log().find("Right High signal conductance value is: 721(0x2d1)\n"
                                  "High signal conductance value is: 710(0x2c6)\n"),
              std::string::npos);
    EXPECT_NE(observer.Log().find("REG STMAX = 0XD337D58C\n"), std::string::npos);
}

TEST(ConfigurationRun, RefusedWriteLeavesRegistersUnlocked) {
    SimLink line({.left = 760, .right = 760, .refuseWrites = true});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);

    const std::string log = observer.Log();
    const std::string tail = "REG STCLIP = 0X0C000000\n\nSend new register values to K5...\n";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultRegisterError});
    EXPECT_EQ(KeyWrites(line.Sim()), std::vector<uint32_t>{kKeyWriteUnlock});
    EXPECT_FALSE(line.Sim().State().locked);
    // The calculated values are kept although the amplifier did not take them.
    EXPECT_EQ(settings.registers[2].value, 0xD347D5F0u);
    EXPECT_EQ(settings.registers[3].value, 0x0054229Bu);
}

TEST(ConfigurationRun, ReadBackMismatchLocksAndFails) {
    SimLink line({.left = 760, .right = 760, .readbackMismatch = true});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);

    const std::string log = observer.Log();
    const std::string tail = "Reg STCLIP is sent.\n\nVerify the modified register values...\n";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultRegisterError});
    EXPECT_EQ(KeyWrites(line.Sim()), (std::vector<uint32_t>{kKeyWriteUnlock, kKeyWriteLock}));
    EXPECT_TRUE(line.Sim().State().locked);
}

TEST(ConfigurationRun, ZeroReferencePowerWritesEmptyFields) {
    SimLink line({.left = 760, .right = 760});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    settings.pref = 0;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);

    const std::string log = observer.Log();
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultSuccess});
    EXPECT_NE(log.find("Calculated Pmax = 0(0x0)\nCalculated Pc = 0(0x0)\n"
                       "Calculated Ip = 0(0x0)\n"),
              std::string::npos);
    EXPECT_NE(log.find("REG STMAX = 0XD000D000\nREG STPTE = 0X00542000\n"), std::string::npos);
    EXPECT_NE(log.find("Max power at 2ohms is: 0\nMax power at 2ohms(I limit) is: 0\n"
                       "Continuous power at 4ohms is: 0\n"),
              std::string::npos);
    EXPECT_EQ(line.Sim().State().stmax, 0xD000D000u);
    EXPECT_EQ(line.Sim().State().stpte, 0x00542000u);
}

struct ClipCase {
    const char* name;
    float cp;
    uint32_t stclip;
    const char* line;
};

class ClipSetting : public testing::TestWithParam<ClipCase> {};

TEST_P(ClipSetting, SelectsStclip) {
    const ClipCase& c = GetParam();
    SimLink line({.left = 760, .right = 760});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    settings.cp = c.cp;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultSuccess});
    EXPECT_NE(observer.Log().find(c.line), std::string::npos) << c.cp;
    EXPECT_EQ(line.Sim().State().stclip, c.stclip) << c.cp;
}

const ClipCase kClipCases[] = {
    {"lowest", 0.28125f, 0x1F000000u, "REG STCLIP = 0X1F000000\n"},
    {"highest", 0.9f, 0x06000000u, "REG STCLIP = 0X06000000\n"},
    {"at 0.75", 0.75f, 0x10000000u, "REG STCLIP = 0X10000000\n"},
    {"just above 0.75", std::nextafter(0.75f, 1.0f), 0x0F000000u, "REG STCLIP = 0X0F000000\n"},
};
INSTANTIATE_TEST_SUITE_P(ConfigurationRun, ClipSetting, testing::ValuesIn(kClipCases),
                         ByCaseName());

// The first worked example's log up to and including `lastLine`.
std::string FirstExampleLogUpTo(std::string_view lastLine) {
    const size_t at = kFirstExampleLog.find(lastLine);
    EXPECT_NE(at, std::string::npos) << lastLine;
    return at == std::string::npos ? std::string()
                                   : kFirstExampleLog.substr(0, at + lastLine.size());
}

size_t ProtectionWrites(const sim::Simulator& sim) {
    size_t count = 0;
    for (const sim::Request& request : sim.Requests()) {
        count += request.kind == sim::RequestKind::WriteRegister && request.address != kRegKey;
    }
    return count;
}

// Each failure after the identification, through a fault of the amplifier: the whole log up
// to the failing step, the one result code and what the key register received.
struct LateFailure {
    const char* name;
    sim::SimConfig config;
    std::string_view lastLine;  // the log ends with this line of the worked example
    int code;
    std::vector<uint32_t> keyWrites;
    bool lockedAfter;
};

class FailureAfterTheIdentification : public testing::TestWithParam<LateFailure> {};

TEST_P(FailureAfterTheIdentification, EndsWithItsCode) {
    const LateFailure& c = GetParam();
    SimLink line(c.config);
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);
    EXPECT_EQ(observer.Log(), FirstExampleLogUpTo(c.lastLine));
    EXPECT_EQ(observer.Results(), std::vector<int>{c.code});
    EXPECT_EQ(KeyWrites(line.Sim()), c.keyWrites);
    EXPECT_EQ(line.Sim().State().locked, c.lockedAfter);
}

const LateFailure kLateFailures[] = {
    {"measurement read",
     {.corruptChecksum = true, .faultAddress = kRegLeftHighCont},
     "\nGet high signal conductance value...\n",
     kResultConnectionError,
     {},
     true},
    {"right measurement read",
     {.corruptChecksum = true, .faultAddress = kRegRightHighCont},
     "Left High signal conductance value is: 760(0x2f8)\n",
     kResultConnectionError,
     {},
     true},
    {"unlock write",
     {.corruptChecksum = true, .faultAddress = kRegKey},
     "\nSend new register values to K5...\n",
     kResultConnectionError,
     {kKeyWriteUnlock},
     false},
    {"STPTE write",
     {.corruptChecksum = true, .faultAddress = kRegStpte},
     "Reg STMAX is sent.\n",
     kResultRegisterError,
     {kKeyWriteUnlock},
     false},
    {"STCLIP write",
     {.corruptChecksum = true, .faultAddress = kRegStclip},
     "Reg STPTE is sent.\n",
     kResultRegisterError,
     {kKeyWriteUnlock},
     false},
    // The write goes through; reading it back fails, and the registers are locked again.
    {"STMAX read-back",
     {.corruptChecksum = true, .faultAddress = kRegStmax, .faultSkip = 1},
     "\nVerify the modified register values...\n",
     kResultConnectionError,
     {kKeyWriteUnlock, kKeyWriteLock},
     true},
    {"STCLIP read-back",
     {.corruptChecksum = true, .faultAddress = kRegStclip, .faultSkip = 1},
     "Reg STPTE is verified.\n",
     kResultConnectionError,
     {kKeyWriteUnlock, kKeyWriteLock},
     true},
    // The unlock goes through, the final lock's reply is lost.
    {"final lock",
     {.corruptChecksum = true, .faultAddress = kRegKey, .faultSkip = 1},
     "Reg STCLIP is verified.\n",
     kResultConnectionError,
     {kKeyWriteUnlock, kKeyWriteLock},
     true},
};
INSTANTIATE_TEST_SUITE_P(ConfigurationRun, FailureAfterTheIdentification,
                         testing::ValuesIn(kLateFailures), ByCaseName());

TEST(ConfigurationRun, MissingPowerOnEchoAfterAStandbyAnswerIsAConnectionError) {
    SimLink line({.standby = true, .ignoreCommands = {"Main.Power=On"}});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);
    EXPECT_EQ(observer.Log(), "Start K5 Power AMP Configuration processing\n\nInitializing K5...");
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultConnectionError});
    // Only one query: the standby answer leads to the power-on, not to a second query.
    EXPECT_EQ(TextRequests(line.Sim(), "Main.Power?"), 1u);
    EXPECT_EQ(TextRequests(line.Sim(), "Main.Power=On"), 1u);
    EXPECT_EQ(line.Sim().State().power, sim::Power::Standby);
}

// The switch-on takes far longer than a short exchange waits for its reply (5 ms and the
// 80 ms read time-out), but less than the 18 s pause the power-on command is given.
TEST(ConfigurationRun, SwitchOnSlowerThanAShortReadStillSucceeds) {
    SimLink line({.standby = true, .switchOnDelay = std::chrono::milliseconds(2000)});
    ASSERT_TRUE(line.Ready());
    line.Link().SetTimeScale(0.2);  // the power-on pause becomes 3.6 s
    ConfigSettings settings;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);
    EXPECT_EQ(observer.Log(), kFirstExampleLog);
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultSuccess});
    EXPECT_EQ(TextRequests(line.Sim(), "Main.Power=On"), 1u);
    EXPECT_EQ(line.Sim().State().power, sim::Power::On);
}

// A calculated field wider than its 12 bits would corrupt its neighbours in the register:
// the run names it and ends with code 3 before the amplifier is unlocked or written.
struct OversizedField {
    const char* name;
    uint32_t pmax, pc, ip, pref;
    std::string calculated;  // the three "Calculated" lines
    std::string refusal;
};

class FieldWiderThanTwelveBits : public testing::TestWithParam<OversizedField> {};

TEST_P(FieldWiderThanTwelveBits, IsNeitherUnlockedNorWritten) {
    const OversizedField& c = GetParam();
    SimLink line({.left = 760, .right = 760});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    settings.pmax = c.pmax;
    settings.pc = c.pc;
    settings.ip = c.ip;
    settings.pref = c.pref;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);

    EXPECT_EQ(observer.Log(), FirstExampleLogUpTo("\nCalculating register setting values...\n") +
                                  c.calculated + c.refusal);
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultConductanceRange});
    EXPECT_TRUE(KeyWrites(line.Sim()).empty());
    EXPECT_EQ(ProtectionWrites(line.Sim()), 0u);
    const sim::AmpState state = line.Sim().State();
    EXPECT_TRUE(state.locked);
    EXPECT_EQ(state.stmax, sim::K5Model::kDefaultStmax);
    EXPECT_EQ(state.stpte, sim::K5Model::kDefaultStpte);
    // The fields are kept for the status view; the register values were never formed.
    EXPECT_EQ(settings.registers[2].value, 0xD226D5DCu);
    EXPECT_EQ(settings.registers[3].value, 0x0054228Au);
}

const OversizedField kOversizedFields[] = {
    {"Pmax", 500, 250, 36, 300,
     "Calculated Pmax = 4560(0x11d0)\nCalculated Pc = 2002(0x7d2)\n"
     "Calculated Ip = 1453(0x5ad)\n",
     "Calculated Pmax = 4560(0x11d0) is above the 12-bit register limit of 4095(0xfff),"
     "please raise Pref(W) and try again.\n"},
    {"Pc", 0, 1000, 36, 400,
     "Calculated Pmax = 0(0x0)\nCalculated Pc = 6007(0x1777)\nCalculated Ip = 1258(0x4ea)\n",
     "Calculated Pc = 6007(0x1777) is above the 12-bit register limit of 4095(0xfff),"
     "please raise Pref(W) and try again.\n"},
    {"Ip", 0, 0, 1000, 900,
     "Calculated Pmax = 0(0x0)\nCalculated Pc = 0(0x0)\nCalculated Ip = 23309(0x5b0d)\n",
     "Calculated Ip = 23309(0x5b0d) is above the 12-bit register limit of 4095(0xfff),"
     "please raise Pref(W) and try again.\n"},
};
INSTANTIATE_TEST_SUITE_P(ConfigurationRun, FieldWiderThanTwelveBits,
                         testing::ValuesIn(kOversizedFields), ByCaseName());

TEST(ConfigurationRun, AFieldOfExactlyTwelveBitsIsWritten) {
    SimLink line({.left = 760, .right = 760});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    settings.pmax = 1000;
    settings.pref = 668;
    RecordingObserver observer;
    RunOnWorker(line, settings, observer);
    EXPECT_NE(observer.Log().find("Calculated Pmax = 4095(0xfff)\n"), std::string::npos);
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultSuccess});
    EXPECT_EQ(line.Sim().State().stmax, 0xD3CEDFFFu);
}

// A Stop: the window sets the cancel event while the run is at a given point.
struct StopCase {
    const char* name;
    std::string_view stopAfter;  // the log text at which the stop comes
    std::string expectedLog;
    std::optional<int> expectedResult;
};

class StopAtAWait : public testing::TestWithParam<StopCase> {};

TEST_P(StopAtAWait, EndsTheRunAsThatWaitDoes) {
    const StopCase& c = GetParam();
    SimLink line({.left = 760, .right = 760});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    observer.onLog = [&](std::string_view text) {
        if (text == c.stopAfter) {
            line.Cancel().Set();
        }
    };
    RunOnWorker(line, settings, observer);
    EXPECT_EQ(observer.Log(), c.expectedLog);
    if (c.expectedResult) {
        EXPECT_EQ(observer.Results(), std::vector<int>{*c.expectedResult});
    } else {
        EXPECT_TRUE(observer.Results().empty());
    }
    // Every stop was consumed by the wait that saw it.
    EXPECT_FALSE(line.Cancel().IsSet());
}

// One case per kind of wait.
const StopCase kStopCases[] = {
    // In a pause: silent end, no request reached the amplifier.
    {"pause", "Start K5 Power AMP Configuration processing\n",
     "Start K5 Power AMP Configuration processing\n", std::nullopt},
    // In a measurement: silent end.
    {"measurement", "\nGet high signal conductance value...\n", kIdentified, std::nullopt},
    // In an exchange's pause: the step fails with its own code.
    {"exchange", "1) Select input to COAX1...",
     "Start K5 Power AMP Configuration processing\n\nInitializing K5...OK\n"
     "\nConfiguring K5...\n1) Select input to COAX1...",
     kResultConnectionError},
};
INSTANTIATE_TEST_SUITE_P(ConfigurationRun, StopAtAWait, testing::ValuesIn(kStopCases),
                         ByCaseName());

TEST(ConfigurationRun, StopAfterTheLastWaitStaysPending) {
    SimLink line({.left = 760, .right = 760});
    ASSERT_TRUE(line.Ready());
    ConfigSettings settings;
    RecordingObserver observer;
    observer.onLog = [&](std::string_view text) {
        if (text.starts_with("Max power at 2ohms is:")) {
            line.Cancel().Set();
        }
    };
    RunOnWorker(line, settings, observer);
    EXPECT_EQ(observer.Log(), kFirstExampleLog);
    EXPECT_EQ(observer.Results(), std::vector<int>{kResultSuccess});
    EXPECT_TRUE(line.Cancel().IsSet());
}

TEST(ConfigurationRun, StopFromAnotherThreadDuringAFullLengthPause) {
    SimLink line({.left = 760, .right = 760});
    ASSERT_TRUE(line.Ready());
    line.Link().SetTimeScale(1.0);
    ConfigSettings settings;
    RecordingObserver observer;
    std::mutex mutex;
    std::condition_variable started;
    bool hasStarted = false;
    observer.onLog = [&](std::string_view) {
        std::lock_guard lock(mutex);
        hasStarted = true;
        started.notify_all();
    };
    std::thread worker([&] { RunConfiguration(line.Link(), settings, observer); });
    {
        std::unique_lock lock(mutex);
        started.wait(lock, [&] { return hasStarted; });
    }
    line.Cancel().Set();
    worker.join();
    EXPECT_EQ(observer.Log(), "Start K5 Power AMP Configuration processing\n");
    EXPECT_TRUE(observer.Results().empty());
    EXPECT_TRUE(line.Sim().Requests().empty());
}

}  // namespace
}  // namespace k5::torvik
