// Every fault the simulated amplifier can inject, seen through the device link as the
// failure the procedures will act on.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "devlink/commands.h"
#include "devlink/device_link.h"
#include "devlink/registers.h"
#include "sim/simulator.h"

namespace k5 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using sim::SimConfig;
using sim::Simulator;

class LinkAgainstSim : public testing::Test {
protected:
    void Start(SimConfig config, int attempts = DeviceLink::kConfigurationToolAttempts) {
        std::string error;
        amp = Simulator::Start(std::move(config), error);
        ASSERT_TRUE(amp) << error;
        SelectAmplifierBaudRate(port);
        port.SetDevicePathOverride(amp->DevicePath());
        ASSERT_EQ(port.Open(), 1) << port.LastErrorText();
        link.SetCommandAttempts(attempts);
    }

    void TearDown() override { port.Close(); }

    int Command(std::string_view command) { return link.SendCommand(command, command, 5); }

    int EnterMeasuringState() {
        return Command(cmd::kSourceCoax1) && Command(cmd::kTestTone1k) &&
               Command(cmd::kVolumeMinus8);
    }

    ReplyCheck ReadCheck(uint16_t address) {
        uint32_t value = 0;
        EXPECT_EQ(link.ReadRegister(address, value), 0);
        return link.LastReplyCheck();
    }

    CSerialComm port;
    CancelEvent cancel;
    DeviceLink link{port, cancel};
    std::unique_ptr<Simulator> amp;
};

TEST_F(LinkAgainstSim, HealthyAmplifierAnswersEveryCommandOfBothPrograms) {
    Start({});
    EXPECT_EQ(link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 5), 1);
    EXPECT_EQ(link.SendCommand(cmd::kPowerQueryBare, cmd::kPowerOn, 5), 1);
    EXPECT_EQ(link.SendCommand(cmd::kPowerQuery, cmd::kPowerOn, 5), 1);
    EXPECT_EQ(link.SendCommand(cmd::kPowerQueryBare, cmd::kPowerOff, 5), 0);
    for (auto command : {cmd::kSourceCoax1, cmd::kTestTone1k, cmd::kVolumeMinus8, cmd::kMuteOff,
                         cmd::kVolumeMinus20, cmd::kMuteOn, cmd::kPowerOn}) {
        EXPECT_EQ(Command(command), 1) << command.substr(1);
    }
}

TEST_F(LinkAgainstSim, ConductanceIsReadOnlyInTheMeasuringStateAndPerChannel) {
    Start({.left = 1000, .right = 720});
    uint32_t average = 0;
    EXPECT_EQ(link.MeasureRegister(kRegRightHighCont, 550, 900, average), kMeasureOutOfRange);
    EXPECT_EQ(average, 0u) << "no test tone, no reading";

    ASSERT_EQ(EnterMeasuringState(), 1);
    EXPECT_EQ(link.MeasureRegister(kRegLeftHighCont, 550, 900, average), kMeasureOutOfRange);
    EXPECT_EQ(average, 1000u);
    EXPECT_EQ(link.MeasureRegister(kRegRightHighCont, 550, 900, average), kMeasureInRange);
    EXPECT_EQ(average, 720u);
}

TEST_F(LinkAgainstSim, SilentOrWrongModelFailsIdentification) {
    Start({.silent = true});
    EXPECT_EQ(link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 5), 0);
    EXPECT_EQ(link.LastFailure(), LinkFailure::NoReply);
    EXPECT_EQ(ReadCheck(kRegStmax), ReplyCheck::Empty);

    amp->Update([](SimConfig& c) {
        c.silent = false;
        c.model = "K3";
    });
    EXPECT_EQ(link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 5), 0);
    EXPECT_EQ(link.LastFailure(), LinkFailure::WrongReply);
}

TEST_F(LinkAgainstSim, StandbyAnswersOffAndSwitchesOnAfterItsDelay) {
    Start({.standby = true, .switchOnDelay = 150ms});
    EXPECT_EQ(link.SendCommand(cmd::kPowerQueryBare, cmd::kPowerOff, 5), 1);
    EXPECT_EQ(Command(cmd::kSourceCoax1), 0) << "a K5 in standby takes no settings";
    EXPECT_EQ(link.SendCommand(cmd::kPowerOn, cmd::kPowerOn, 5), 0) << "the echo comes late";
    EXPECT_EQ(link.SendCommand(cmd::kPowerOn, cmd::kPowerOn, 300), 1);
    EXPECT_EQ(link.SendCommand(cmd::kPowerQuery, cmd::kPowerOn, 5), 1);
}

TEST_F(LinkAgainstSim, PowerAnsweredNeitherWayMatchesNeitherText) {
    Start({.powerAnswer = "Standby"});
    EXPECT_EQ(link.SendCommand(cmd::kPowerQueryBare, cmd::kPowerOff, 5), 0);
    EXPECT_EQ(link.SendCommand(cmd::kPowerQueryBare, cmd::kPowerOn, 5), 0);
    EXPECT_EQ(link.LastFailure(), LinkFailure::WrongReply);
}

TEST_F(LinkAgainstSim, IgnoredCommandFailsAndLostRepliesAreRetriedByTheWizard) {
    Start({.ignorePaths = {"Dsp.Test"}, .dropTextReplies = 1}, DeviceLink::kWizardAttempts);
    EXPECT_EQ(Command(cmd::kSourceCoax1), 1) << "the second attempt gets the echo";
    EXPECT_EQ(amp->Requests().size(), 2u);
    EXPECT_EQ(Command(cmd::kTestTone1k), 0);
    EXPECT_EQ(amp->Requests().size(), 4u) << "two attempts, both unheard";
}

struct FrameFault {
    const char* name;
    void (*apply)(SimConfig&);
    ReplyCheck expected;
};

class FrameFaults : public LinkAgainstSim, public testing::WithParamInterface<FrameFault> {};

TEST_P(FrameFaults, RegisterExchangesFailWithTheMatchingCheck) {
    SimConfig config;
    GetParam().apply(config);
    Start(config);
    EXPECT_EQ(ReadCheck(kRegStmax), GetParam().expected);
    EXPECT_EQ(link.WriteRegister(kRegKey, kKeyWriteUnlock), 0);
    uint32_t average = 0;
    EXPECT_EQ(link.MeasureRegister(kRegLeftHighCont, 550, 900, average), kMeasureReadFailure);
    // Text commands are untouched by frame faults.
    EXPECT_EQ(link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 5), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, FrameFaults,
    testing::Values(
        FrameFault{"corrupt checksum", [](SimConfig& c) { c.corruptChecksum = true; },
                   ReplyCheck::BadChecksum},
        FrameFault{"wrong address", [](SimConfig& c) { c.wrongAddress = true; },
                   ReplyCheck::WrongAddress},
        FrameFault{"wrong operation", [](SimConfig& c) { c.wrongOperation = true; },
                   ReplyCheck::WrongOperation},
        // A cut reply's last byte is judged as its checksum, and a value byte seldom is one.
        FrameFault{"short reply", [](SimConfig& c) { c.shortReply = 7; }, ReplyCheck::BadChecksum},
        FrameFault{"noise first", [](SimConfig& c) { c.noiseBytes = 5; }, ReplyCheck::BadSync},
        FrameFault{"noise only", [](SimConfig& c) { c.noiseBytes = 40, c.noiseOnly = true; },
                   ReplyCheck::BadSync}),
    [](const testing::TestParamInfo<FrameFault>& param) {
        std::string name = param.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST_F(LinkAgainstSim, FrameFaultCanBeAimedAtOneRegister) {
    Start({.corruptChecksum = true, .faultAddress = kRegStclip});
    uint32_t value = 0;
    EXPECT_EQ(link.ReadRegister(kRegStmax, value), 1);
    EXPECT_EQ(ReadCheck(kRegStclip), ReplyCheck::BadChecksum);
}

TEST_F(LinkAgainstSim, ProtectionRegistersTakeWritesOnlyWhenUnlocked) {
    Start({});
    EXPECT_EQ(link.WriteRegister(kRegStmax, 0xD347D5F0), 0) << "locked: refused";
    ASSERT_EQ(link.WriteRegister(kRegKey, kKeyWriteUnlock), 1);
    ASSERT_EQ(link.WriteRegister(kRegStmax, 0xD347D5F0), 1);
    ASSERT_EQ(link.WriteRegister(kRegKey, kKeyWriteLock), 1);
    EXPECT_EQ(link.WriteRegister(kRegStmax, 0x12345678), 0);
    uint32_t value = 0;
    ASSERT_EQ(link.ReadRegister(kRegStmax, value), 1);
    EXPECT_EQ(value, 0xD347D5F0u);

    ASSERT_EQ(link.WriteRegister(kRegKey, kKeyRestoreDefaults), 1);
    ASSERT_EQ(link.ReadRegister(kRegStmax, value), 1);
    EXPECT_EQ(value, 0xD226D5DCu);
}

TEST_F(LinkAgainstSim, RefusedWritesAndReadBackMismatch) {
    Start({.refuseWrites = true});
    ASSERT_EQ(link.WriteRegister(kRegKey, kKeyWriteUnlock), 1);
    EXPECT_EQ(link.WriteRegister(kRegStpte, 0x0054229B), 0);

    amp->Update([](SimConfig& c) {
        c.refuseWrites = false;
        c.readbackMismatch = true;
    });
    ASSERT_EQ(link.WriteRegister(kRegStpte, 0x0054229B), 1);
    uint32_t value = 0;
    ASSERT_EQ(link.ReadRegister(kRegStpte, value), 1);
    EXPECT_NE(value, 0x0054229Bu);
}

TEST_F(LinkAgainstSim, SlowRepliesWithinTheReadTimeOutStillCount) {
    Start({.slowReplies = 25ms});
    uint32_t value = 0;
    EXPECT_EQ(link.ReadRegister(kRegStmax, value), 1) << "5 ms pause + 41 ms read covers 25 ms";
    EXPECT_EQ(link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 0), 1);

    amp->Update([](SimConfig& c) { c.slowReplies = 120ms; });
    EXPECT_EQ(link.ReadRegister(kRegStmax, value), 0);
    EXPECT_EQ(link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 0), 0);
}

TEST_F(LinkAgainstSim, LineThatHangsUpMidRunFailsEveryLaterExchangeAtOnce) {
    Start({.hangUpAfter = 3});
    ASSERT_EQ(EnterMeasuringState(), 0) << "the third command never gets its echo";
    EXPECT_TRUE(port.HungUp());
    const auto start = Clock::now();
    uint32_t average = 0;
    EXPECT_EQ(link.MeasureRegister(kRegLeftHighCont, 550, 900, average), kMeasureReadFailure);
    EXPECT_EQ(link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 5), 0);
    EXPECT_LT(Clock::now() - start, 50ms);
    EXPECT_EQ(link.LastFailure(), LinkFailure::HungUp);
    port.Close();
    EXPECT_EQ(port.IsOpen(), 0);
}

TEST_F(LinkAgainstSim, BurnInFramesSwitchTheMode) {
    Start({});
    link.SendModeControl(BuildBurnInFrame(true));
    EXPECT_TRUE(amp->State().burnIn);
    link.SendModeControl(BuildBurnInFrame(false));
    EXPECT_FALSE(amp->State().burnIn);
}

}  // namespace
}  // namespace k5
