// The device link of the Windows build against a simulated K5 on a COM port: the native
// k5sim, started by scripts/wine-sim-test.sh, which names the port in K5_TEST_COM and picks
// the simulator's behaviour for each group of tests (see tests/windows/CMakeLists.txt).
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "devlink/commands.h"
#include "devlink/device_link.h"
#include "devlink/frames.h"
#include "devlink/registers.h"
#include "devlink/serial_comm.h"
#include "serialport/com_port.h"
#include "serialport/timer_resolution.h"

namespace k5 {
namespace {

using Clock = std::chrono::steady_clock;
using cmd::kModelIsK5;
using cmd::kModelQuery;
using Ms = std::chrono::duration<double, std::milli>;

// Wine ends a total read time-out on its own timer tick once bytes have arrived, up to about
// 16 ms late; a loaded machine adds a little more.
constexpr double kLateToleranceMs = 16.0 + 12.0;

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

unsigned TestPort() {
    const char* port = std::getenv("K5_TEST_COM");
    return port != nullptr ? static_cast<unsigned>(std::strtoul(port, nullptr, 10)) : 0;
}

// A port record on the simulated K5's COM port, opened with the settings both programs use.
class SimulatedK5 : public ::testing::Test {
protected:
    void SetUp() override {
        if (TestPort() == 0) {
            GTEST_SKIP() << "needs a simulated K5 on a COM port: run through wine-sim-test.sh";
        }
        port_.SetPortNumber(static_cast<uint8_t>(TestPort()));
        SelectAmplifierBaudRate(port_);
        ASSERT_EQ(port_.Open(), 1) << port_.LastErrorText();
    }
    void TearDown() override { port_.Close(); }

    // Reads `count` bytes and says how long the read took.
    double TimedRead(uint32_t count, uint32_t& got) {
        uint8_t buffer[64];
        const auto start = Clock::now();
        got = port_.Read(buffer, count);
        return Ms(Clock::now() - start).count();
    }

    TimerResolution timer_;
    CSerialComm port_;
    CancelEvent cancel_;
    DeviceLink link_{port_, cancel_};
};

using AnsweringK5 = SimulatedK5;
using SilentK5 = SimulatedK5;
using ShortReplyK5 = SimulatedK5;

TEST_F(AnsweringK5, TextAndRegisterExchanges) {
    EXPECT_EQ(link_.SendCommand(kModelQuery, kModelIsK5, 20), 1);
    EXPECT_EQ(link_.SendCommand(kModelQuery, "\rMain.Model=K7\r", 20), 0);
    EXPECT_EQ(link_.LastFailure(), LinkFailure::WrongReply);

    EXPECT_EQ(link_.WriteRegister(kRegKey, kKeyWriteUnlock), 1);
    EXPECT_EQ(link_.WriteRegister(kRegStmax, 0x12345678), 1);
    uint32_t value = 0;
    EXPECT_EQ(link_.ReadRegister(kRegStmax, value), 1);
    EXPECT_EQ(value, 0x12345678u);
    EXPECT_EQ(link_.WriteRegister(kRegKey, kKeyWriteLock), 1);
}

TEST_F(AnsweringK5, PendingCancelEndsTheExchangeInItsPause) {
    cancel_.Set();
    EXPECT_EQ(link_.SendCommand(kModelQuery, kModelIsK5, 1000), 0);
    EXPECT_EQ(link_.LastFailure(), LinkFailure::Cancelled);
    EXPECT_FALSE(cancel_.IsSet()) << "the pause consumed the signal";
    EXPECT_EQ(link_.SendCommand(kModelQuery, kModelIsK5, 20), 1);
}

TEST_F(AnsweringK5, OpenAppliesTheLineSettingsInUse) {
    // Wine lets a second handle open the device, which shows its line settings; Windows keeps
    // the port to the first opener.
    const std::string path = ComPortDevicePath(TestPort());
    const HANDLE second = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (!UnderWine()) {
        EXPECT_EQ(second, INVALID_HANDLE_VALUE) << "the port must be held exclusively";
        if (second != INVALID_HANDLE_VALUE) {
            CloseHandle(second);
        }
        return;
    }
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    ASSERT_TRUE(GetCommState(second, &dcb));
    CloseHandle(second);
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_FALSE(dcb.fOutxCtsFlow);
    EXPECT_FALSE(dcb.fOutxDsrFlow);
    EXPECT_FALSE(dcb.fOutX);
    EXPECT_FALSE(dcb.fInX);
}

TEST_F(AnsweringK5, SecondRecordCannotOpenAPortInUse) {
    if (UnderWine()) {
        GTEST_SKIP() << "Wine does not enforce exclusive opens: a second CreateFile succeeds";
    }
    CSerialComm second(static_cast<uint8_t>(TestPort()));
    SelectAmplifierBaudRate(second);
    EXPECT_EQ(second.Open(), 0);
    EXPECT_EQ(second.LastError(), PortError::InUse) << second.LastErrorText();
}

TEST_F(SilentK5, ReadsEndAtTheirTotalTimeOut) {
    struct Case {
        uint32_t count;
        double totalMs;  // 1 ms per requested byte plus 30 ms
    };
    for (const Case c : {Case{11, 41.0}, Case{50, 80.0}}) {
        uint32_t got = 99;
        const double took = TimedRead(c.count, got);
        RecordProperty("silent_read_" + std::to_string(c.count) + "_bytes_ms",
                       std::to_string(took));
        EXPECT_EQ(got, 0u);
        EXPECT_GE(took, c.totalMs - 1.0) << c.count << " bytes";
        EXPECT_LE(took, c.totalMs + kLateToleranceMs) << c.count << " bytes";
    }
    uint32_t value = 7;
    EXPECT_EQ(link_.ReadRegister(kRegStmax, value), 0);
    EXPECT_EQ(link_.LastFailure(), LinkFailure::NoReply);
    EXPECT_EQ(value, 0u);
}

TEST_F(ShortReplyK5, ReadEndsOneIntervalAfterTheLastByteOfAShortReply) {
    const ReadRequest request = BuildReadRequest(kRegStmax);
    port_.Purge();
    ASSERT_EQ(port_.Write(request.data(), static_cast<uint32_t>(request.size())), 1);
    ASSERT_EQ(link_.WaitOrCancel(5), WaitResult::Elapsed);  // the reply is in by now
    uint32_t got = 0;
    const double took = TimedRead(kRegisterReplySize, got);
    RecordProperty("short_reply_read_ms", std::to_string(took));
    EXPECT_EQ(got, 7u) << "the simulator sends the first 7 bytes of its reply";
    // The interval time-out (20 ms) ends the read, long before the total one (41 ms).
    EXPECT_GE(took, 19.0);
    EXPECT_LT(took, 41.0);
}

TEST(PortsWithoutAK5, OpenFailsWithTheReason) {
    struct Case {
        const char* device;
        PortError error;
        const char* text;
    };
    // No system has a COM300. In the test prefix COM1 leads to an empty file, so that no
    // port number reaches the host's own serial devices.
    std::vector<Case> cases = {{"\\\\.\\COM300", PortError::NotFound, "no such port"}};
    if (UnderWine() && TestPort() != 0) {
        cases.push_back({"\\\\.\\COM1", PortError::NotSerialDevice, "not a serial device"});
    }
    for (const Case& c : cases) {
        CSerialComm port(1);
        SelectAmplifierBaudRate(port);
        port.SetDevicePathOverride(c.device);
        EXPECT_EQ(port.Open(), 0) << c.device;
        EXPECT_EQ(port.IsOpen(), 0);
        EXPECT_EQ(port.LastError(), c.error) << port.LastErrorText();
        EXPECT_NE(port.LastErrorText().find(c.text), std::string::npos) << port.LastErrorText();
    }
}

}  // namespace
}  // namespace k5
