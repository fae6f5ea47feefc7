#include "sim/simulator.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "devlink/commands.h"
#include "devlink/frames.h"
#include "devlink/registers.h"
#include "pty_client.h"

namespace k5::sim {
namespace {

using std::chrono::milliseconds;
using test::Bytes;
using test::PtyClient;
using test::ToBytes;

constexpr milliseconds kPatience{2000};  // against hangs only; replies take milliseconds

template <size_t N>
Bytes B(const std::array<uint8_t, N>& frame) {
    return Bytes(frame.begin(), frame.end());
}

// Sends a text command and returns what came back, waiting for as many bytes as `expected`.
Bytes Exchange(PtyClient& client, std::string_view command, std::string_view expected) {
    EXPECT_TRUE(client.Send(command));
    return client.Receive(expected.size(), kPatience);
}

TEST(Simulator, AnswersOverThePseudoTerminal) {
    auto sim = Simulator::Start();
    ASSERT_TRUE(sim);
    EXPECT_EQ(sim->DevicePath().rfind("/dev/pts/", 0), 0u) << sim->DevicePath();
    PtyClient client(sim->DevicePath());
    ASSERT_TRUE(client.IsOpen());

    EXPECT_EQ(Exchange(client, cmd::kModelQuery, cmd::kModelIsK5), ToBytes(cmd::kModelIsK5));
    EXPECT_EQ(Exchange(client, cmd::kPowerQueryBare, cmd::kPowerOn), ToBytes(cmd::kPowerOn));

    const auto requests = sim->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].text, "Main.Model?");
    EXPECT_EQ(requests[1].raw, ToBytes(cmd::kPowerQueryBare));
    EXPECT_LE(requests[0].received, requests[1].received);
    ASSERT_EQ(sim->Replies().size(), 2u);
    EXPECT_GE(sim->Replies()[0].sent, requests[0].received);
}

TEST(Simulator, MeasuringStateThenConductanceReads) {
    auto sim = Simulator::Start({.left = 640, .right = 655});
    ASSERT_TRUE(sim);
    PtyClient client(sim->DevicePath());
    for (auto command : {cmd::kSourceCoax1, cmd::kTestTone1k, cmd::kVolumeMinus8}) {
        ASSERT_EQ(Exchange(client, command, command), ToBytes(command));
    }
    EXPECT_TRUE(sim->State().InTestState());
    for (auto [address, expected] :
         {std::pair{kRegLeftHighCont, 640u}, {kRegRightHighCont, 655u}}) {
        ASSERT_TRUE(client.Send(B(BuildReadRequest(address))));
        const Bytes reply = client.Receive(kRegisterReplySize, kPatience);
        uint32_t value = 0;
        ASSERT_EQ(ValidateRegisterReply(reply, kOpRead, address, value), ReplyCheck::Ok);
        EXPECT_EQ(value & kConductanceMask, expected);
    }
}

TEST(Simulator, SwitchOnEchoComesAfterTheDelay) {
    auto sim = Simulator::Start({.standby = true, .switchOnDelay = milliseconds(150)});
    ASSERT_TRUE(sim);
    PtyClient client(sim->DevicePath());
    EXPECT_EQ(Exchange(client, cmd::kPowerQuery, cmd::kPowerOff), ToBytes(cmd::kPowerOff));
    sim->ClearRequests();

    ASSERT_TRUE(client.Send(cmd::kPowerOn));
    // While it comes up, the model query is still answered and arrives first.
    EXPECT_EQ(Exchange(client, cmd::kModelQuery, cmd::kModelIsK5), ToBytes(cmd::kModelIsK5));
    EXPECT_EQ(client.Receive(cmd::kPowerOn.size(), kPatience), ToBytes(cmd::kPowerOn));
    EXPECT_EQ(sim->State().power, Power::On);

    const auto requests = sim->Requests();
    const auto replies = sim->Replies();
    ASSERT_EQ(requests.size(), 2u);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1].bytes, ToBytes(cmd::kPowerOn));
    EXPECT_GE(replies[1].sent - requests[0].received, milliseconds(150));
}

TEST(Simulator, SlowRepliesKeepTheirOrder) {
    auto sim = Simulator::Start({.slowReplies = milliseconds(60)});
    ASSERT_TRUE(sim);
    PtyClient client(sim->DevicePath());
    const std::string both = std::string(cmd::kSourceCoax1) + std::string(cmd::kMuteOff);
    ASSERT_TRUE(client.Send(both));
    EXPECT_EQ(client.Receive(both.size(), kPatience), ToBytes(both));
    const auto replies = sim->Replies();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_GE(replies[0].sent - sim->Requests()[0].received, milliseconds(60));
}

TEST(Simulator, BurnInFrameIsLoggedAndEchoed) {
    auto sim = Simulator::Start();
    ASSERT_TRUE(sim);
    PtyClient client(sim->DevicePath());
    ASSERT_TRUE(client.Send(B(BuildBurnInFrame(true))));
    EXPECT_EQ(client.Receive(kModeControlFrameSize, kPatience), B(BuildBurnInFrame(true)));
    const auto requests = sim->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].kind, RequestKind::ModeControl);
    EXPECT_EQ(requests[0].raw, B(BuildBurnInFrame(true)));
    EXPECT_TRUE(sim->State().burnIn);
}

TEST(Simulator, ClientMayCloseAndReopen) {
    auto sim = Simulator::Start();
    ASSERT_TRUE(sim);
    {
        PtyClient first(sim->DevicePath());
        ASSERT_TRUE(first.Send(cmd::kSourceCoax1));
        ASSERT_TRUE(sim->WaitForRequests(1, kPatience));
    }
    PtyClient second(sim->DevicePath());
    ASSERT_TRUE(second.IsOpen());
    EXPECT_EQ(Exchange(second, cmd::kModelQuery, cmd::kModelIsK5), ToBytes(cmd::kModelIsK5));
    EXPECT_EQ(sim->State().source, "Coax1");
}

TEST(Simulator, FaultsChangeWhileRunning) {
    auto sim = Simulator::Start();
    ASSERT_TRUE(sim);
    PtyClient client(sim->DevicePath());
    sim->Update([](SimConfig& c) { c.silent = true; });
    ASSERT_TRUE(client.Send(cmd::kModelQuery));
    ASSERT_TRUE(sim->WaitForRequests(1, kPatience));
    EXPECT_TRUE(client.Receive(1, milliseconds(100)).empty());

    sim->Update([](SimConfig& c) {
        c.silent = false;
        c.model = "K9";
    });
    EXPECT_EQ(Exchange(client, cmd::kModelQuery, "\rMain.Model=K9\r"),
              ToBytes("\rMain.Model=K9\r"));

    sim->Update([](SimConfig& c) { c.standby = true; });
    EXPECT_EQ(sim->State().power, Power::Standby);
    EXPECT_EQ(sim->Config().model, "K9");
}

TEST(Simulator, HangsUpAsTheNthRequestArrives) {
    auto sim = Simulator::Start({.hangUpAfter = 2});
    ASSERT_TRUE(sim);
    PtyClient client(sim->DevicePath());
    EXPECT_EQ(Exchange(client, cmd::kModelQuery, cmd::kModelIsK5), ToBytes(cmd::kModelIsK5));
    ASSERT_TRUE(client.Send(cmd::kPowerQuery));
    EXPECT_TRUE(client.WaitForHangUp(kPatience));
    EXPECT_TRUE(sim->HungUp());
    EXPECT_FALSE(client.Send(cmd::kPowerQuery));
    sim->Stop();
}

TEST(Simulator, StopWithAClientConnectedDoesNotHang) {
    auto sim = Simulator::Start();
    ASSERT_TRUE(sim);
    PtyClient client(sim->DevicePath());
    ASSERT_TRUE(client.Send("\rMain.Mo"));  // half a command in flight
    sim->Stop();
    EXPECT_TRUE(client.WaitForHangUp(kPatience));
    sim->Stop();
}

TEST(Simulator, StopWithRepliesStillDue) {
    auto sim = Simulator::Start({.slowReplies = milliseconds(30'000)});
    ASSERT_TRUE(sim);
    PtyClient client(sim->DevicePath());
    ASSERT_TRUE(client.Send(cmd::kModelQuery));
    ASSERT_TRUE(sim->WaitForRequests(1, kPatience));
    sim->Stop();  // must not wait for the reply's time
    EXPECT_TRUE(sim->Replies().empty());
}

TEST(Simulator, ClientThatDoesNotReadCannotBlowUpTheOutput) {
    auto sim = Simulator::Start({.noiseBytes = 4096});
    ASSERT_TRUE(sim);
    PtyClient client(sim->DevicePath());
    Bytes many;
    for (int i = 0; i < 100; ++i) {
        const auto read = BuildReadRequest(kRegStmax);
        many.insert(many.end(), read.begin(), read.end());
    }
    ASSERT_TRUE(client.Send(many));
    ASSERT_TRUE(sim->WaitForRequests(100, kPatience));
    // The line is full, yet requests are still taken off it.
    ASSERT_TRUE(client.Send(cmd::kModelQuery));
    ASSERT_TRUE(sim->WaitForRequests(101, kPatience));
    sim->Stop();
}

TEST(Simulator, TraceShowsBothDirections) {
    auto sim = Simulator::Start();
    ASSERT_TRUE(sim);
    std::ostringstream trace;
    sim->SetTrace(&trace);
    PtyClient client(sim->DevicePath());
    EXPECT_EQ(Exchange(client, cmd::kModelQuery, cmd::kModelIsK5), ToBytes(cmd::kModelIsK5));
    sim->Stop();
    const std::string text = trace.str();
    EXPECT_NE(text.find(" ms  -> 0D 4D 61 69 6E 2E 4D 6F 64 65 6C 3F 0D  \"\\rMain.Model?\\r\""),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(" ms  <- 0D 4D 61"), std::string::npos) << text;
    EXPECT_NE(text.find("\"\\rMain.Model=K5\\r\""), std::string::npos) << text;
}

TEST(Simulator, EveryTraceLineOfAUnitStartsWithItsNumber) {
    auto sim = Simulator::Start({.tracePrefix = "[2] "});
    ASSERT_TRUE(sim);
    std::ostringstream trace;
    sim->SetTrace(&trace);
    PtyClient client(sim->DevicePath());
    EXPECT_EQ(Exchange(client, cmd::kModelQuery, cmd::kModelIsK5), ToBytes(cmd::kModelIsK5));
    sim->Stop();
    std::istringstream lines(trace.str());
    size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        EXPECT_EQ(line.rfind("[2]      ", 0), 0u) << line;
    }
    EXPECT_GE(count, 2u);
}

class SimulatorLink : public testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/k5sim_test_XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

TEST_F(SimulatorLink, PointsAtTheTerminalUntilStopped) {
    const auto link = dir_ / "ttyK5";
    auto sim = Simulator::Start({.linkPath = link.string()});
    ASSERT_TRUE(sim);
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim->DevicePath());
    PtyClient client(link.string());
    EXPECT_EQ(Exchange(client, cmd::kModelQuery, cmd::kModelIsK5), ToBytes(cmd::kModelIsK5));
    sim->Stop();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST_F(SimulatorLink, ReplacesAStaleLinkButNeverAFile) {
    const auto stale = dir_ / "stale";
    std::filesystem::create_symlink("/dev/null", stale);
    auto sim = Simulator::Start({.linkPath = stale.string()});
    ASSERT_TRUE(sim);
    EXPECT_EQ(std::filesystem::read_symlink(stale).string(), sim->DevicePath());

    const auto file = dir_ / "file";
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    std::string error;
    EXPECT_FALSE(Simulator::Start({.linkPath = file.string()}, error));
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
    EXPECT_TRUE(std::filesystem::is_regular_file(file));
}

}  // namespace
}  // namespace k5::sim
