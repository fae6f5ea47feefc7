#include "sim/k5_model.h"

#include <gtest/gtest.h>

#include <set>
#include <string_view>

#include "devlink/commands.h"
#include "devlink/frames.h"
#include "devlink/registers.h"
#include "sim/request_parser.h"

namespace k5::sim {
namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

Bytes B(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

template <size_t N>
Bytes B(const std::array<uint8_t, N>& frame) {
    return Bytes(frame.begin(), frame.end());
}

// Sends raw bytes through the parser, as the line would, and returns the last reply.
std::optional<Reply> Send(K5Model& model, const Bytes& bytes) {
    RequestParser parser;
    std::optional<Reply> last;
    for (const Request& r : parser.Feed(bytes)) {
        last = model.Handle(r);
    }
    return last;
}

std::optional<Reply> Send(K5Model& model, std::string_view text) {
    return Send(model, B(text));
}

Bytes ReplyBytes(K5Model& model, std::string_view text) {
    const auto reply = Send(model, text);
    return reply ? reply->bytes : Bytes{};
}

// Puts a fresh model into the measuring state the programs set up.
void EnterTestState(K5Model& model) {
    for (auto command : {cmd::kSourceCoax1, cmd::kTestTone1k, cmd::kVolumeMinus8}) {
        ASSERT_TRUE(Send(model, command)) << command;
    }
}

uint32_t Read(K5Model& model, uint16_t address) {
    const auto reply = Send(model, B(BuildReadRequest(address)));
    uint32_t value = 0xDEADBEEF;
    EXPECT_TRUE(reply);
    if (reply) {
        EXPECT_EQ(ValidateRegisterReply(reply->bytes, kOpRead, address, value), ReplyCheck::Ok);
    }
    return value;
}

// Writes and returns whether a valid reply came back.
bool Write(K5Model& model, uint16_t address, uint32_t value) {
    const auto reply = Send(model, B(BuildWriteRequest(address, value)));
    uint32_t echoed = 0;
    return reply &&
           ValidateRegisterReply(reply->bytes, kOpWrite, address, echoed) == ReplyCheck::Ok &&
           echoed == value;
}

// --- Text commands ----------------------------------------------------------------------

TEST(K5ModelText, EveryAssignmentTheProgramsSendIsEchoed) {
    K5Model model;
    for (auto command :
         {cmd::kSourceCoax1, cmd::kTestTone1k, cmd::kVolumeMinus8, cmd::kVolumeMinus20,
          cmd::kMuteOn, cmd::kMuteOff, cmd::kPowerOn, cmd::kPowerOff}) {
        const auto reply = Send(model, command);
        ASSERT_TRUE(reply) << command;
        EXPECT_EQ(reply->bytes, B(command));
        EXPECT_EQ(reply->delay, milliseconds(0));
    }
    EXPECT_EQ(model.State().power, Power::Standby);
}

TEST(K5ModelText, EchoIsFramedEvenWhenTheCommandWasNot) {
    K5Model model;
    EXPECT_EQ(ReplyBytes(model, "Main.Source=Xlr2\r"), B("\rMain.Source=Xlr2\r"));
    EXPECT_EQ(model.State().source, "Xlr2");
}

TEST(K5ModelText, AssignmentsChangeTheStateTheQueriesReport) {
    K5Model model;
    Send(model, "\rMain.Volume=-42\r");
    Send(model, cmd::kMuteOn);
    Send(model, "\rDsp.Test=Off\r");
    EXPECT_EQ(ReplyBytes(model, "\rMain.Volume?\r"), B("\rMain.Volume=-42\r"));
    EXPECT_EQ(ReplyBytes(model, "\rMain.Mute?\r"), B("\rMain.Mute=On\r"));
    EXPECT_EQ(ReplyBytes(model, "\rDsp.Test?\r"), B("\rDsp.Test=Off\r"));
    EXPECT_EQ(model.State().volume, -42);
    EXPECT_TRUE(model.State().mute);
}

TEST(K5ModelText, ModelAndPowerQueries) {
    K5Model model;
    EXPECT_EQ(ReplyBytes(model, cmd::kModelQuery), B(cmd::kModelIsK5));
    EXPECT_EQ(ReplyBytes(model, cmd::kPowerQuery), B(cmd::kPowerOn));
    EXPECT_EQ(ReplyBytes(model, cmd::kPowerQueryBare), B(cmd::kPowerOn));

    K5Model other({.model = "K7"});
    EXPECT_EQ(ReplyBytes(other, cmd::kModelQuery), B("\rMain.Model=K7\r"));

    K5Model odd({.powerAnswer = "Standby"});
    EXPECT_EQ(ReplyBytes(odd, cmd::kPowerQueryBare), B("\rMain.Power=Standby\r"));
}

TEST(K5ModelText, CommandsItDoesNotKnowGetNoReply) {
    K5Model model;
    for (std::string_view text :
         {"\rMain.Foo=1\r", "\rMain.Model\r", "\rMain.Model?x\r", "\r?\r", "\r=On\r",
          "\rMain.Volume=abc\r", "\rMain.Volume=-8.5\r", "\rMain.Volume=-999\r", "\rMain.Volume=\r",
          "\rMain.Mute=Maybe\r", "\rMain.Power=Sleep\r", "\rMain.Source=\r", "\rMain.Source=A B\r",
          "\rmain.model?\r"}) {
        EXPECT_FALSE(Send(model, text)) << text;
    }
    EXPECT_EQ(model.State().volume, K5Model().State().volume);
    EXPECT_EQ(model.State().power, Power::On);
}

// --- Power ------------------------------------------------------------------------------

TEST(K5ModelPower, StandbyAnswersOnlyModelAndPower) {
    K5Model model({.standby = true});
    EXPECT_EQ(ReplyBytes(model, cmd::kModelQuery), B(cmd::kModelIsK5));
    EXPECT_EQ(ReplyBytes(model, cmd::kPowerQueryBare), B(cmd::kPowerOff));
    for (auto command : {cmd::kSourceCoax1, cmd::kTestTone1k, cmd::kVolumeMinus8, cmd::kMuteOn}) {
        EXPECT_FALSE(Send(model, command)) << command;
    }
    EXPECT_NE(model.State().source, "Coax1");
    EXPECT_FALSE(model.State().mute);
}

TEST(K5ModelPower, SwitchOnIsEchoedAfterTheDelay) {
    K5Model model({.standby = true, .switchOnDelay = milliseconds(1500)});
    const auto echo = Send(model, cmd::kPowerOn);
    ASSERT_TRUE(echo);
    EXPECT_EQ(echo->bytes, B(cmd::kPowerOn));
    EXPECT_EQ(echo->delay, milliseconds(1500));
    ASSERT_NE(echo->switchOnTicket, 0u);

    // Until the echo is due the amplifier is still coming up.
    EXPECT_EQ(model.State().power, Power::SwitchingOn);
    EXPECT_EQ(ReplyBytes(model, cmd::kPowerQuery), B(cmd::kPowerOff));
    EXPECT_FALSE(Send(model, cmd::kSourceCoax1));
    // A repeated request is answered by the echo already under way.
    EXPECT_FALSE(Send(model, cmd::kPowerOn));

    EXPECT_TRUE(model.CompleteSwitchOn(echo->switchOnTicket));
    EXPECT_EQ(model.State().power, Power::On);
    EXPECT_FALSE(model.CompleteSwitchOn(echo->switchOnTicket));
    const auto again = Send(model, cmd::kPowerOn);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->delay, milliseconds(0));
}

TEST(K5ModelPower, SwitchingOffCancelsASwitchOnUnderWay) {
    K5Model model({.standby = true, .switchOnDelay = milliseconds(500)});
    const auto echo = Send(model, cmd::kPowerOn);
    ASSERT_TRUE(echo);
    EXPECT_EQ(ReplyBytes(model, cmd::kPowerOff), B(cmd::kPowerOff));
    EXPECT_FALSE(model.CompleteSwitchOn(echo->switchOnTicket));
    EXPECT_EQ(model.State().power, Power::Standby);
}

TEST(K5ModelPower, NoDelaySwitchesOnAtOnce) {
    K5Model model({.standby = true, .switchOnDelay = milliseconds(0)});
    const auto echo = Send(model, cmd::kPowerOn);
    ASSERT_TRUE(echo);
    EXPECT_EQ(echo->switchOnTicket, 0u);
    EXPECT_EQ(model.State().power, Power::On);
}

// --- Conductance ------------------------------------------------------------------------

TEST(K5ModelConductance, ReadingsOnlyInTheFullTestState) {
    struct Case {
        const char* missing;
        std::string_view undo;
    };
    for (const Case& c :
         {Case{"source", "\rMain.Source=Analog1\r"}, Case{"test tone", "\rDsp.Test=Off\r"},
          Case{"volume", cmd::kVolumeMinus20}, Case{"power", cmd::kPowerOff}}) {
        K5Model model({.left = 700, .right = 720});
        EnterTestState(model);
        EXPECT_EQ(Read(model, kRegLeftHighCont) & kConductanceMask, 700u) << c.missing;
        EXPECT_EQ(Read(model, kRegRightHighCont) & kConductanceMask, 720u) << c.missing;
        Send(model, c.undo);
        EXPECT_EQ(Read(model, kRegLeftHighCont) & kConductanceMask, 0u) << c.missing;
        EXPECT_EQ(Read(model, kRegRightHighCont) & kConductanceMask, 0u) << c.missing;
    }
}

TEST(K5ModelConductance, UpperBitsCarryChangingJunkUnlessSwitchedOff) {
    K5Model model({.left = 612});
    EnterTestState(model);
    std::set<uint32_t> high;
    for (int i = 0; i < 16; ++i) {
        const uint32_t value = Read(model, kRegLeftHighCont);
        EXPECT_EQ(value & kConductanceMask, 612u);
        high.insert(value & ~kConductanceMask);
    }
    EXPECT_GT(high.size(), 8u);

    K5Model clean({.left = 612, .junk = false});
    EnterTestState(clean);
    EXPECT_EQ(Read(clean, kRegLeftHighCont), 612u);
}

TEST(K5ModelConductance, JitterStaysWithinItsBound) {
    K5Model model({.left = 800, .junk = false, .jitter = 5});
    EnterTestState(model);
    std::set<uint32_t> seen;
    for (int i = 0; i < 64; ++i) {
        const uint32_t value = Read(model, kRegLeftHighCont);
        EXPECT_GE(value, 795u);
        EXPECT_LE(value, 805u);
        seen.insert(value);
    }
    EXPECT_GT(seen.size(), 3u);
}

// --- Protection registers and the key register ------------------------------------------

TEST(K5ModelProtection, DefaultsAndLockedWrites) {
    K5Model model;
    EXPECT_EQ(Read(model, kRegStmax), 0xD226D5DCu);
    EXPECT_EQ(Read(model, kRegStpte), 0x0054228Au);
    EXPECT_EQ(Read(model, kRegStclip), 0x0C000000u);
    // Locked: refused without a reply, and nothing changes.
    EXPECT_FALSE(Send(model, B(BuildWriteRequest(kRegStmax, 0x11111111))));
    EXPECT_EQ(Read(model, kRegStmax), 0xD226D5DCu);
}

TEST(K5ModelProtection, UnlockWriteReadBackLockRestore) {
    K5Model model;
    ASSERT_TRUE(Write(model, kRegKey, kKeyWriteUnlock));
    EXPECT_FALSE(model.State().locked);
    EXPECT_TRUE(Write(model, kRegStmax, 0x12345678));
    EXPECT_TRUE(Write(model, kRegStpte, 0x00ABCDEF));
    EXPECT_TRUE(Write(model, kRegStclip, 0x0A000000));
    EXPECT_EQ(Read(model, kRegStmax), 0x12345678u);
    EXPECT_EQ(Read(model, kRegStpte), 0x00ABCDEFu);
    EXPECT_EQ(Read(model, kRegStclip), 0x0A000000u);

    ASSERT_TRUE(Write(model, kRegKey, kKeyWriteLock));
    EXPECT_FALSE(Write(model, kRegStmax, 1));
    EXPECT_EQ(Read(model, kRegStmax), 0x12345678u);

    // Restoring works whether locked or not, and leaves the lock as it was.
    ASSERT_TRUE(Write(model, kRegKey, kKeyRestoreDefaults));
    EXPECT_TRUE(model.State().locked);
    EXPECT_EQ(model.State().stmax, K5Model::kDefaultStmax);
    EXPECT_EQ(model.State().stpte, K5Model::kDefaultStpte);
    EXPECT_EQ(model.State().stclip, K5Model::kDefaultStclip);
}

TEST(K5ModelProtection, UnknownRegistersReadZeroAndWritesAreAnswered) {
    K5Model model;
    EXPECT_EQ(Read(model, 0x1234), 0u);
    EXPECT_EQ(Read(model, kRegKey), 0u);
    EXPECT_TRUE(Write(model, 0x1234, 99));
    EXPECT_EQ(Read(model, 0x1234), 0u);
    // An unknown code in the key register changes nothing.
    EXPECT_TRUE(Write(model, kRegKey, 0x01020304));
    EXPECT_TRUE(model.State().locked);
}

TEST(K5ModelProtection, RegistersAreServedInStandby) {
    K5Model model({.standby = true});
    EXPECT_EQ(Read(model, kRegStpte), K5Model::kDefaultStpte);
    EXPECT_EQ(Read(model, kRegLeftHighCont) & kConductanceMask, 0u);
    EXPECT_TRUE(Write(model, kRegKey, kKeyRestoreDefaults));
}

// --- Burn-in ----------------------------------------------------------------------------

TEST(K5ModelBurnIn, FramesAreEchoedAndSwitchTheMode) {
    K5Model model;
    const auto on = Send(model, B(BuildBurnInFrame(true)));
    ASSERT_TRUE(on);
    EXPECT_EQ(on->bytes, B(BuildBurnInFrame(true)));
    EXPECT_TRUE(model.State().burnIn);
    const auto off = Send(model, B(BuildBurnInFrame(false)));
    ASSERT_TRUE(off);
    EXPECT_EQ(off->bytes, B(BuildBurnInFrame(false)));
    EXPECT_FALSE(model.State().burnIn);

    Bytes other = {0xFF, 0x04, 0x02, 0x02, 0x00, 0x55, 0};
    other.back() = FrameChecksum(std::span(other).first(6));
    EXPECT_FALSE(Send(model, other));
}

// --- Faults -----------------------------------------------------------------------------

struct FrameFaultCase {
    const char* name;
    SimConfig config;
    ReplyCheck expected;
};

class K5ModelFrameFaults : public testing::TestWithParam<FrameFaultCase> {};

// The client's own reply check must see exactly the fault that was switched on, for reads
// and writes alike.
TEST_P(K5ModelFrameFaults, ClientCheckSeesTheFault) {
    K5Model model(GetParam().config);
    uint32_t value = 0;
    const auto read = Send(model, B(BuildReadRequest(kRegStpte)));
    ASSERT_TRUE(read);
    EXPECT_EQ(ValidateRegisterReply(read->bytes, kOpRead, kRegStpte, value), GetParam().expected);
    const auto write = Send(model, B(BuildWriteRequest(kRegKey, kKeyWriteUnlock)));
    ASSERT_TRUE(write);
    EXPECT_EQ(ValidateRegisterReply(write->bytes, kOpWrite, kRegKey, value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, K5ModelFrameFaults,
    testing::Values(
        FrameFaultCase{"CorruptChecksum", {.corruptChecksum = true}, ReplyCheck::BadChecksum},
        FrameFaultCase{"WrongAddress", {.wrongAddress = true}, ReplyCheck::WrongAddress},
        FrameFaultCase{"WrongOperation", {.wrongOperation = true}, ReplyCheck::WrongOperation},
        FrameFaultCase{"ShortReply", {.shortReply = 7}, ReplyCheck::BadChecksum},
        FrameFaultCase{"Noise", {.noiseBytes = 5}, ReplyCheck::BadSync},
        FrameFaultCase{"NoiseOnly", {.noiseOnly = true}, ReplyCheck::BadSync}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(K5ModelFaults, NoiseHasNoSyncByteAndKeepsTheFrameBehindIt) {
    K5Model model({.noiseBytes = 300});
    const auto reply = Send(model, B(BuildReadRequest(kRegStmax)));
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->bytes.size(), 300u + kRegisterReplySize);
    for (size_t i = 0; i < 300; ++i) {
        ASSERT_NE(reply->bytes[i], 0xFF) << i;
    }
    uint32_t value = 0;
    EXPECT_EQ(
        ValidateRegisterReply(std::span(reply->bytes).subspan(300), kOpRead, kRegStmax, value),
        ReplyCheck::Ok);
    EXPECT_EQ(value, K5Model::kDefaultStmax);
}

TEST(K5ModelFaults, FrameFaultsCanHitOneRegisterOnly) {
    K5Model model({.corruptChecksum = true, .faultAddress = kRegStclip});
    EXPECT_EQ(Read(model, kRegStmax), K5Model::kDefaultStmax);
    const auto reply = Send(model, B(BuildReadRequest(kRegStclip)));
    ASSERT_TRUE(reply);
    uint32_t value = 0;
    EXPECT_EQ(ValidateRegisterReply(reply->bytes, kOpRead, kRegStclip, value),
              ReplyCheck::BadChecksum);
}

// The faults spare the first replies they would hit: a write goes through and the read-back
// of the same register fails. Replies the faults would not hit do not count.
TEST(K5ModelFaults, FrameFaultsCanSpareTheirFirstReplies) {
    K5Model model({.corruptChecksum = true, .faultAddress = kRegStmax, .faultSkip = 1});
    EXPECT_EQ(Read(model, kRegStpte), K5Model::kDefaultStpte);
    ASSERT_TRUE(Write(model, kRegKey, kKeyWriteUnlock));
    EXPECT_TRUE(Write(model, kRegStmax, 0xD347D5F0));
    EXPECT_EQ(model.State().stmax, 0xD347D5F0u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(Write(model, kRegStmax, 0xD347D5F0)) << i;
    }

    K5Model unfaulted({.faultSkip = 1});
    EXPECT_EQ(Read(unfaulted, kRegStmax), K5Model::kDefaultStmax);
    EXPECT_EQ(unfaulted.Config().faultSkip, 1u);
}

TEST(K5ModelFaults, IgnoredCommandIsNeitherHeardNorAnsweredButItsPathIs) {
    K5Model model({.standby = true, .ignoreCommands = {"Main.Power=On"}});
    EXPECT_FALSE(Send(model, cmd::kPowerOn));
    EXPECT_EQ(model.State().power, Power::Standby);
    EXPECT_EQ(ReplyBytes(model, cmd::kPowerQuery), B(cmd::kPowerOff));
    EXPECT_TRUE(Send(model, "\rMain.Power=Off\r"));
}

TEST(K5ModelFaults, RefusedWritesAndReadBackMismatch) {
    K5Model refusing({.refuseWrites = true});
    ASSERT_TRUE(Write(refusing, kRegKey, kKeyWriteUnlock));
    EXPECT_FALSE(Write(refusing, kRegStpte, 5));
    EXPECT_EQ(refusing.State().stpte, K5Model::kDefaultStpte);
    EXPECT_TRUE(Write(refusing, kRegKey, kKeyWriteLock));

    K5Model mismatching({.readbackMismatch = true});
    ASSERT_TRUE(Write(mismatching, kRegKey, kKeyWriteUnlock));
    ASSERT_TRUE(Write(mismatching, kRegStclip, 0x0B000000));
    EXPECT_EQ(Read(mismatching, kRegStclip), 0x0B000001u);
    EXPECT_EQ(mismatching.State().stclip, 0x0B000000u);
}

TEST(K5ModelFaults, SilentAnswersNothing) {
    K5Model model({.silent = true});
    EXPECT_FALSE(Send(model, cmd::kModelQuery));
    EXPECT_FALSE(Send(model, cmd::kSourceCoax1));
    EXPECT_FALSE(Send(model, B(BuildReadRequest(kRegStmax))));
    EXPECT_FALSE(Send(model, B(BuildBurnInFrame(true))));
    model.Config().silent = false;
    EXPECT_TRUE(Send(model, cmd::kModelQuery));
}

TEST(K5ModelFaults, IgnoredPathIsNeitherHeardNorAnswered) {
    K5Model model({.ignorePaths = {"Dsp.Test"}});
    EXPECT_FALSE(Send(model, cmd::kTestTone1k));
    EXPECT_NE(model.State().test, "1k");
    EXPECT_EQ(ReplyBytes(model, cmd::kSourceCoax1), B(cmd::kSourceCoax1));
    EXPECT_EQ(ReplyBytes(model, cmd::kVolumeMinus8), B(cmd::kVolumeMinus8));
}

TEST(K5ModelFaults, DroppedRepliesStillAct) {
    K5Model model({.dropTextReplies = 2});
    EXPECT_FALSE(Send(model, cmd::kModelQuery));
    EXPECT_FALSE(Send(model, cmd::kSourceCoax1));
    EXPECT_EQ(model.State().source, "Coax1");
    EXPECT_EQ(model.Config().dropTextReplies, 0);
    EXPECT_EQ(ReplyBytes(model, cmd::kModelQuery), B(cmd::kModelIsK5));
}

TEST(K5ModelFaults, DroppedSwitchOnEchoStillSwitchesOn) {
    K5Model model({.standby = true, .switchOnDelay = milliseconds(100), .dropTextReplies = 1});
    const auto reply = Send(model, cmd::kPowerOn);
    ASSERT_TRUE(reply);
    EXPECT_TRUE(reply->bytes.empty());
    EXPECT_TRUE(model.CompleteSwitchOn(reply->switchOnTicket));
    EXPECT_EQ(ReplyBytes(model, cmd::kPowerOn), B(cmd::kPowerOn));
}

TEST(K5ModelFaults, SlowRepliesAddToEveryDelay) {
    K5Model model(
        {.standby = true, .switchOnDelay = milliseconds(100), .slowReplies = milliseconds(40)});
    EXPECT_EQ(Send(model, cmd::kModelQuery).value().delay, milliseconds(40));
    EXPECT_EQ(Send(model, B(BuildReadRequest(kRegStmax))).value().delay, milliseconds(40));
    EXPECT_EQ(Send(model, cmd::kPowerOn).value().delay, milliseconds(140));
}

}  // namespace
}  // namespace k5::sim
