// Text commands, register exchanges and measurements against a scripted peer on a real
// pseudo-terminal.
#include "devlink/device_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "devlink/commands.h"
#include "devlink/registers.h"
#include "tests/support/pty_peer.h"

namespace k5 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::Bytes;
using test::ScriptedPeer;
using test::ToBytes;

template <size_t N>
Bytes AsBytes(const std::array<uint8_t, N>& a) {
    return Bytes(a.begin(), a.end());
}

class LinkTest : public testing::Test {
protected:
    void Start(ScriptedPeer::Handler handler,
               int attempts = DeviceLink::kConfigurationToolAttempts) {
        peer = std::make_unique<ScriptedPeer>(std::move(handler));
        SelectAmplifierBaudRate(port);
        port.SetDevicePathOverride(peer->DevicePath());
        ASSERT_EQ(port.Open(), 1) << port.LastErrorText();
        link.SetCommandAttempts(attempts);
    }

    void TearDown() override { port.Close(); }

    // Requests the peer has seen, once it has had a moment to see them all.
    std::vector<ScriptedPeer::Request> SettledRequests() {
        std::this_thread::sleep_for(20ms);
        return peer->Requests();
    }

    CSerialComm port;
    CancelEvent cancel;
    DeviceLink link{port, cancel};
    // What the handlers count and vary. The peer's thread runs until the fixture ends, so a
    // handler keeps its state here rather than in the test body's locals.
    std::atomic<int> calls{0};
    std::atomic<int> delayMs{0};
    std::atomic<uint8_t> op{0};
    std::unique_ptr<ScriptedPeer> peer;
};

// Replies to every text command with `reply`.
ScriptedPeer::Handler Answer(std::string reply) {
    return [reply](const Bytes&) { return ToBytes(reply); };
}

TEST_F(LinkTest, ExpectedTextMayStandAnywhereInTheReply) {
    Start(Answer("noise\rMain.Model=K5\rmore noise"));
    EXPECT_EQ(link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 5), 1);
    ASSERT_EQ(SettledRequests().size(), 1u);
    EXPECT_EQ(peer->Requests()[0].bytes, ToBytes(cmd::kModelQuery));
}

TEST_F(LinkTest, WrongOrMissingReplyFails) {
    Start(Answer("\rMain.Model=K3\r"));
    EXPECT_EQ(link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 5), 0);
    EXPECT_EQ(link.LastFailure(), LinkFailure::WrongReply);

    // An echo that lacks the leading carriage return is not the expected text.
    peer.reset();
    port.Close();
    Start(Answer("Main.Power=On\r"));
    EXPECT_EQ(link.SendCommand(cmd::kPowerOn, cmd::kPowerOn, 5), 0);

    peer.reset();
    port.Close();
    Start(Answer(""));
    const auto start = Clock::now();
    EXPECT_EQ(link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 5), 0);
    EXPECT_GE(Clock::now() - start, 85ms) << "5 ms pause and the 80 ms read time-out";
    EXPECT_EQ(link.LastFailure(), LinkFailure::NoReply);
}

TEST_F(LinkTest, OnlyTheFirstFiftyBytesAreSearchedAndTheRestIsPurged) {
    Start([&](const Bytes&) {
        if (calls++ == 0) {
            // The expected text straddles byte 50; a whole power answer follows it.
            return ToBytes(std::string(45, '#') + "\rMain.Model=K5\r\rMain.Power=On\r");
        }
        return ToBytes("\rMain.Power=Off\r");
    });
    EXPECT_EQ(link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 5), 0);
    // The unread tail of the first reply holds "\rMain.Power=On\r": only the purge before
    // the next exchange keeps it from answering that exchange's query.
    EXPECT_EQ(link.SendCommand(cmd::kPowerQuery, cmd::kPowerOn, 5), 0);
    EXPECT_EQ(link.LastFailure(), LinkFailure::WrongReply);
    EXPECT_EQ(link.SendCommand(cmd::kPowerQuery, cmd::kPowerOff, 5), 1);
}

TEST_F(LinkTest, WizardRepeatsAFailedCommandOnce) {
    Start([&](const Bytes&) { return calls++ == 0 ? Bytes{} : ToBytes(cmd::kSourceCoax1); },
          DeviceLink::kWizardAttempts);
    EXPECT_EQ(link.SendCommand(cmd::kSourceCoax1, cmd::kSourceCoax1, 5), 1);
    EXPECT_EQ(SettledRequests().size(), 2u);
}

TEST_F(LinkTest, ConfigurationToolMakesOneAttempt) {
    Start([&](const Bytes&) { return calls++ == 0 ? Bytes{} : ToBytes(cmd::kSourceCoax1); });
    EXPECT_EQ(link.SendCommand(cmd::kSourceCoax1, cmd::kSourceCoax1, 5), 0);
    EXPECT_EQ(SettledRequests().size(), 1u);
}

TEST_F(LinkTest, CancelInThePauseEndsTheExchangeWithoutASecondWrite) {
    Start(Answer(std::string(cmd::kPowerOn)), DeviceLink::kWizardAttempts);
    std::thread stopper([&] {
        std::this_thread::sleep_for(30ms);
        cancel.Set();
    });
    const auto start = Clock::now();
    EXPECT_EQ(link.SendCommand(cmd::kPowerOn, cmd::kPowerOn, 6000), 0);
    stopper.join();
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(link.LastFailure(), LinkFailure::Cancelled);
    EXPECT_EQ(SettledRequests().size(), 1u);
    EXPECT_FALSE(cancel.IsSet()) << "the pause consumed the signal";
}

TEST_F(LinkTest, ClosedPortWritesNothingAndFailsAfterThePause) {
    Start(Answer(std::string(cmd::kModelIsK5)), DeviceLink::kWizardAttempts);
    port.Close();
    const auto start = Clock::now();
    EXPECT_EQ(link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 30), 0);
    EXPECT_GE(Clock::now() - start, 30ms);
    EXPECT_EQ(link.LastFailure(), LinkFailure::PortClosed);
    EXPECT_TRUE(SettledRequests().empty());
}

TEST_F(LinkTest, ZeroPauseSucceedsOnlyWithinTheReadTimeOut) {
    delayMs = 40;
    Start([&](const Bytes&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
        return ToBytes(cmd::kModelIsK5);
    });
    EXPECT_EQ(link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 0), 1);
    delayMs = 120;
    EXPECT_EQ(link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 0), 0);
}

TEST_F(LinkTest, HungUpLineFailsFastAndKeepsFailing) {
    Start(Answer(""));
    peer->HangUp();
    const auto start = Clock::now();
    EXPECT_EQ(link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 5), 0);
    uint32_t value = 1;
    EXPECT_EQ(link.ReadRegister(kRegStmax, value), 0);
    EXPECT_LT(Clock::now() - start, 40ms);
    EXPECT_EQ(link.LastFailure(), LinkFailure::HungUp);
}

// Register exchanges ---------------------------------------------------------------------

ScriptedPeer::Handler RegisterReply(uint8_t op, uint16_t address, uint32_t value) {
    return [=](const Bytes&) { return AsBytes(BuildRegisterReply(op, address, value)); };
}

TEST_F(LinkTest, ReadRegisterDeliversTheValue) {
    Start(RegisterReply(kOpRead, kRegStmax, 0xD347D5F0));
    uint32_t value = 0;
    EXPECT_EQ(link.ReadRegister(kRegStmax, value), 1);
    EXPECT_EQ(value, 0xD347D5F0u);
    ASSERT_EQ(SettledRequests().size(), 1u);
    EXPECT_EQ(peer->Requests()[0].bytes, AsBytes(BuildReadRequest(kRegStmax)));
}

TEST_F(LinkTest, FailedReadClearsTheValueButACancelLeavesIt) {
    Start(RegisterReply(kOpRead, kRegStpte, 0x1234));  // another register's reply
    uint32_t value = 99;
    EXPECT_EQ(link.ReadRegister(kRegStmax, value), 0);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(link.LastReplyCheck(), ReplyCheck::WrongAddress);

    value = 99;
    cancel.Set();
    const auto start = Clock::now();
    EXPECT_EQ(link.ReadRegister(kRegStmax, value), 0);
    EXPECT_LT(Clock::now() - start, 20ms) << "a cancelled read does not wait for a reply";
    EXPECT_EQ(value, 99u);
}

TEST_F(LinkTest, WriteRegisterNeedsAMatchingReplyButNotTheSameValue) {
    op = kOpWrite;
    Start([&](const Bytes& request) {
        return AsBytes(BuildRegisterReply(op, kRegKey, 0xDEADBEEF));
        (void)request;
    });
    EXPECT_EQ(link.WriteRegister(kRegKey, kKeyWriteUnlock), 1);
    ASSERT_EQ(SettledRequests().size(), 1u);
    EXPECT_EQ(peer->Requests()[0].bytes, AsBytes(BuildWriteRequest(kRegKey, kKeyWriteUnlock)));

    op = kOpRead;
    EXPECT_EQ(link.WriteRegister(kRegKey, kKeyWriteUnlock), 0);
    EXPECT_EQ(link.LastReplyCheck(), ReplyCheck::WrongOperation);
}

TEST_F(LinkTest, GarbageRepliesAreRejectedAndDoNotSpoilTheNextExchange) {
    Start([&](const Bytes&) {
        switch (calls++) {
            case 0:
                return Bytes(11, 0xFF);
            case 1:
                return Bytes(600, 0xA5);
            case 2:
                return Bytes{0xFF, 0x08, 0x01};  // cut short
            default:
                return AsBytes(BuildRegisterReply(kOpRead, kRegStclip, 0x0C000000));
        }
    });
    uint32_t value = 0;
    EXPECT_EQ(link.ReadRegister(kRegStclip, value), 0);
    EXPECT_EQ(link.ReadRegister(kRegStclip, value), 0);
    EXPECT_EQ(link.ReadRegister(kRegStclip, value), 0);
    EXPECT_EQ(link.LastReplyCheck(), ReplyCheck::TooShort);
    EXPECT_EQ(link.ReadRegister(kRegStclip, value), 1);
    EXPECT_EQ(value, 0x0C000000u);
}

// Measurements -----------------------------------------------------------------------------

// Answers register reads with the values of `readings` in turn, then stops answering.
ScriptedPeer::Handler Readings(std::vector<uint32_t> readings) {
    auto next = std::make_shared<size_t>(0);
    return [readings = std::move(readings), next](const Bytes& request) {
        uint16_t address = 0;
        if (!test::IsReadRequest(request, address) || *next >= readings.size()) {
            return Bytes{};
        }
        return AsBytes(BuildRegisterReply(kOpRead, address, readings[(*next)++]));
    };
}

TEST_F(LinkTest, SixteenInsideBeforeSixteenOutsideIsInRange) {
    std::vector<uint32_t> values;
    for (uint32_t i = 0; i < 15; ++i) {
        values.push_back(700 + i);  // inside
        values.push_back(100);      // outside
    }
    values.push_back(790);  // the thirty-first reading, the sixteenth inside, decides
    Start(Readings(values));
    uint32_t average = 0;
    EXPECT_EQ(link.MeasureRegister(kRegLeftHighCont, 550, 900, average), kMeasureInRange);
    // (700 + ... + 714 + 790) / 16, rounded down
    EXPECT_EQ(average, (15u * 707u + 790u) / 16u);
    EXPECT_EQ(SettledRequests().size(), 31u);
}

TEST_F(LinkTest, SixteenOutsideGiveOutOfRangeWithTheirAverage) {
    std::vector<uint32_t> values(16, 901);
    values[3] = 549;
    values.insert(values.begin(), 800);  // one inside reading is discarded
    Start(Readings(values));
    uint32_t average = 0;
    EXPECT_EQ(link.MeasureRegister(kRegRightHighCont, 550, 900, average), kMeasureOutOfRange);
    EXPECT_EQ(average, (15u * 901u + 549u) / 16u);
}

TEST_F(LinkTest, BoundsAreInclusiveAndOnlyTheLowTwelveBitsCount) {
    // Junk above bit 11 must neither push a reading out of range nor into the average.
    Start(Readings(std::vector<uint32_t>(16, 0xABCDE000u | 760u)));
    uint32_t average = 0;
    EXPECT_EQ(link.MeasureRegister(kRegLeftHighCont, 760, 760, average), kMeasureInRange);
    EXPECT_EQ(average, 760u);
}

TEST_F(LinkTest, ReadFailureEndsTheMeasurement) {
    Start(Readings(std::vector<uint32_t>(10, 700)));
    uint32_t average = 1234;
    EXPECT_EQ(link.MeasureRegister(kRegLeftHighCont, 550, 900, average), kMeasureReadFailure);
    EXPECT_EQ(average, 1234u);
}

TEST_F(LinkTest, CancelEndsTheMeasurement) {
    Start(Readings(std::vector<uint32_t>(31, 700)));
    cancel.Set();
    uint32_t average = 1234;
    EXPECT_EQ(link.MeasureRegister(kRegLeftHighCont, 550, 900, average), kMeasureCancelled);
    EXPECT_EQ(average, 1234u);
    EXPECT_TRUE(SettledRequests().empty());
}

TEST_F(LinkTest, ModeControlFrameIsSentOnlyOnAnOpenPort) {
    Start([](const Bytes& request) { return request; });
    link.SendModeControl(BuildBurnInFrame(true));
    ASSERT_EQ(SettledRequests().size(), 1u);
    EXPECT_EQ(peer->Requests()[0].bytes, AsBytes(BuildBurnInFrame(true)));

    port.Close();
    link.SendModeControl(BuildBurnInFrame(false));
    EXPECT_EQ(SettledRequests().size(), 1u);
}

}  // namespace
}  // namespace k5
