// The port record on a real pseudo-terminal: line settings, time-outs just below and above
// each limit, exclusive use, and a line that hangs up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <termios.h>

#include <csignal>
#include <ctime>
#include <filesystem>
#include <optional>
#include <thread>

#include "devlink/serial_comm.h"
#include "tests/support/pty_peer.h"

namespace k5 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::PtyPeer;

// Above every expected time a loaded machine may add this much.
constexpr auto kSlack = 25ms;

std::chrono::nanoseconds ThreadCpuTime() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

size_t OpenDescriptorCount() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++n;
    }
    return n;
}

SerialSettings SettingsInUse() {
    SerialSettings s;
    s.baudRateIndex = kBaudIndex115200;
    return s;
}

class PortOnPty : public testing::Test {
protected:
    void SetUp() override {
        port.SetSettings(SettingsInUse());
        port.SetDevicePathOverride(peer.DevicePath());
        ASSERT_EQ(port.Open(), 1) << port.LastErrorText();
    }

    // Reads `max` bytes and returns how many arrived and how long after `start` (by default,
    // the start of the read) the read ended. A test whose peer thread times its bytes from
    // before the read passes that earlier start, so a slow thread start cannot shorten the
    // time it sees.
    std::pair<uint32_t, Clock::duration> TimedRead(uint32_t max,
                                                   std::optional<Clock::time_point> start = {}) {
        std::vector<uint8_t> buffer(max);
        const auto from = start.value_or(Clock::now());
        const uint32_t n = port.Read(buffer.data(), max);
        return {n, Clock::now() - from};
    }

    PtyPeer peer;
    CSerialComm port;
};

TEST_F(PortOnPty, LineSettingsAreReadBackFromTheDevice) {
    termios t{};
    ASSERT_EQ(tcgetattr(peer.TerminalFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(cfgetispeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP | INPCK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
}

TEST_F(PortOnPty, WrittenBytesReachThePeerUnchanged) {
    // Carriage returns and line feeds must cross untranslated.
    const std::string text = "\rMain.Model?\r\n\xFF";
    ASSERT_EQ(port.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size()), 1);
    EXPECT_EQ(peer.Receive(text.size(), 1s), test::ToBytes(text));
}

TEST_F(PortOnPty, ReadReturnsAsSoonAsTheCountHasArrived) {
    peer.Send(std::string(11, 'x'));
    auto [n, took] = TimedRead(11);
    EXPECT_EQ(n, 11u);
    EXPECT_LT(took, 10ms);

    const auto before = Clock::now();
    std::thread late([&] {
        std::this_thread::sleep_until(before + 10ms);
        peer.Send(std::string(11, 'y'));
    });
    std::tie(n, took) = TimedRead(11, before);
    late.join();
    EXPECT_EQ(n, 11u);
    EXPECT_GE(took, 10ms);
    EXPECT_LT(took, 10ms + kSlack) << "must not wait for the interval time-out";
}

TEST_F(PortOnPty, ShortReplyEndsTwentyMillisecondsAfterItsLastByte) {
    peer.Send(std::string(5, 'a'));
    auto [n, took] = TimedRead(11);
    EXPECT_EQ(n, 5u);
    EXPECT_GE(took, 20ms);
    EXPECT_LT(took, 20ms + kSlack);

    // A second byte inside the interval restarts it.
    const auto before = Clock::now();
    peer.Send("a");
    std::thread second([&] {
        std::this_thread::sleep_until(before + 12ms);
        peer.Send("b");
    });
    std::tie(n, took) = TimedRead(11, before);
    second.join();
    EXPECT_EQ(n, 2u);
    EXPECT_GE(took, 32ms);
    EXPECT_LT(took, 32ms + kSlack);
}

TEST_F(PortOnPty, NoReplyTakesOneMillisecondPerByteAndThirty) {
    auto [n, took] = TimedRead(11);
    EXPECT_EQ(n, 0u);
    EXPECT_GE(took, 41ms);
    EXPECT_LT(took, 41ms + kSlack);

    std::tie(n, took) = TimedRead(50);
    EXPECT_EQ(n, 0u);
    EXPECT_GE(took, 80ms);
    EXPECT_LT(took, 80ms + kSlack);
}

TEST_F(PortOnPty, TotalTimeOutEndsATrickleThatNeverPausesLongEnough) {
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        while (!stop) {
            peer.Send("t");
            std::this_thread::sleep_for(8ms);
        }
    });
    auto [n, took] = TimedRead(11);
    stop = true;
    trickle.join();
    EXPECT_GE(n, 3u);
    EXPECT_LT(n, 11u);
    EXPECT_GE(took, 41ms);
    EXPECT_LT(took, 41ms + kSlack);
}

extern "C" void IgnoreSignal(int) {}

TEST_F(PortOnPty, InterruptedReadKeepsItsDeadline) {
    struct sigaction action {};
    action.sa_handler = IgnoreSignal;  // no SA_RESTART: poll() fails with EINTR
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    const pthread_t reader = pthread_self();
    std::thread interrupter([&] {
        for (int i = 0; i < 4; ++i) {
            std::this_thread::sleep_for(8ms);
            pthread_kill(reader, SIGUSR1);
        }
    });
    auto [n, took] = TimedRead(50);
    interrupter.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(n, 0u);
    EXPECT_GE(took, 80ms);
    EXPECT_LT(took, 80ms + kSlack);
}

TEST_F(PortOnPty, PurgeDiscardsWhatArrivedBefore) {
    peer.Send("stale reply");
    std::this_thread::sleep_for(5ms);
    port.Purge();
    auto [n, took] = TimedRead(11);
    EXPECT_EQ(n, 0u);
}

TEST_F(PortOnPty, SecondOpenOfTheSameDeviceFailsUntilTheFirstCloses) {
    CSerialComm second;
    second.SetSettings(SettingsInUse());
    second.SetDevicePathOverride(peer.DevicePath());
    EXPECT_EQ(second.Open(), 0);
    EXPECT_EQ(second.IsOpen(), 0);
    EXPECT_EQ(second.LastError(), PortError::InUse);

    port.Close();
    EXPECT_EQ(second.Open(), 1) << second.LastErrorText();
    second.Close();
}

TEST_F(PortOnPty, HangUpDuringAReadFailsPromptlyAndStaysFailed) {
    const auto before = Clock::now();
    std::thread hangUp([&] {
        std::this_thread::sleep_until(before + 20ms);
        peer.HangUp();
    });
    const auto cpuBefore = ThreadCpuTime();
    auto [n, took] = TimedRead(50, before);
    const auto cpuUsed = ThreadCpuTime() - cpuBefore;
    hangUp.join();
    EXPECT_EQ(n, 0u);
    EXPECT_LT(took, 20ms + kSlack) << "a hung-up line must not wait out the time-out";
    EXPECT_LT(cpuUsed, 10ms) << "waiting must not spin";
    EXPECT_TRUE(port.HungUp());
    EXPECT_EQ(port.LastError(), PortError::HungUp);

    std::tie(n, took) = TimedRead(11);
    EXPECT_EQ(n, 0u);
    EXPECT_LT(took, 5ms);
    const uint8_t byte = 0;
    EXPECT_EQ(port.Write(&byte, 1), 0);

    port.Close();
    EXPECT_EQ(port.IsOpen(), 0);
}

TEST(PortRecord, RecordDestroyedWhileOpenReleasesTheDevice) {
    PtyPeer peer;
    const size_t before = OpenDescriptorCount();
    {
        CSerialComm owner;
        owner.SetSettings(SettingsInUse());
        owner.SetDevicePathOverride(peer.DevicePath());
        ASSERT_EQ(owner.Open(), 1) << owner.LastErrorText();
    }  // no Close: the owner forgot it
    EXPECT_EQ(OpenDescriptorCount(), before);
    CSerialComm next;
    next.SetSettings(SettingsInUse());
    next.SetDevicePathOverride(peer.DevicePath());
    EXPECT_EQ(next.Open(), 1) << "the lock must not outlive the record: " << next.LastErrorText();
    next.Close();
}

TEST(PortRecord, ClosedPortDoesNothing) {
    CSerialComm port;
    uint8_t buffer[11] = {};
    const auto start = Clock::now();
    EXPECT_EQ(port.Write(buffer, 11), 0);
    EXPECT_EQ(port.Read(buffer, 11), 0u);
    port.Purge();
    port.Close();
    port.Close();
    EXPECT_LT(Clock::now() - start, 5ms);
    EXPECT_EQ(port.IsOpen(), 0);
}

struct BadDevice {
    const char* path;
    PortError expected;
};

class OpenFailure : public testing::TestWithParam<BadDevice> {};

TEST_P(OpenFailure, LeavesTheRecordClosedWithNoDescriptorOpen) {
    const size_t before = OpenDescriptorCount();
    CSerialComm port;
    port.SetSettings(SettingsInUse());
    port.SetDevicePathOverride(GetParam().path);
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.IsOpen(), 0);
    EXPECT_EQ(port.LastError(), GetParam().expected) << port.LastErrorText();
    EXPECT_EQ(OpenDescriptorCount(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, OpenFailure,
    testing::Values(BadDevice{"/dev/k5-no-such-port", PortError::NotFound},
                    BadDevice{"/dev/null",
                              PortError::NotSerialDevice},  // a device, but no terminal
                    BadDevice{"/etc/hostname", PortError::NotSerialDevice},
                    BadDevice{"/dev", PortError::NotSerialDevice}));

TEST(PortRecord, SettingsThePlatformCannotApplyFailTheOpen) {
    PtyPeer peer;
    CSerialComm port;
    port.SetDevicePathOverride(peer.DevicePath());
    SerialSettings settings = SettingsInUse();
    settings.baudRateIndex = 12;  // 128000
    port.SetSettings(settings);
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.LastError(), PortError::UnsupportedSetting);

    settings = SettingsInUse();
    settings.byteSizeIndex = 2;  // 9 bits
    port.SetSettings(settings);
    EXPECT_EQ(port.Open(), 0);

    port.SetSettings(SettingsInUse());
    EXPECT_EQ(port.Open(), 1) << "a refused setting must not leave the device locked";
    port.Close();
}

}  // namespace
}  // namespace k5
