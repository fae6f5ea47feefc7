// Every row of the Windows time-out rules, measured on a pseudo-terminal whose far end sends
// on a schedule; and the settings an open port keeps until it is opened again.
#include <gtest/gtest.h>

#include <thread>

#include "devlink/serial_comm.h"
#include "tests/support/pty_peer.h"

namespace k5 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::PtyPeer;

// Above every expected time a loaded machine may add this much; a read never ends early.
constexpr auto kSlack = 30ms;
constexpr uint32_t kMax = kMaxDword;

struct Burst {
    std::chrono::milliseconds at;  // after the read begins; negative: before it
    size_t bytes;
};

struct ReadRow {
    const char* what;
    uint32_t interval, multiplier, constant;
    uint32_t count;
    std::vector<Burst> schedule;
    uint32_t expectedBytes;
    std::chrono::milliseconds expectedTime;
};

SerialSettings WithReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
    SerialSettings s;
    s.baudRateIndex = kBaudIndex115200;
    s.readIntervalTimeoutMs = interval;
    s.readTotalTimeoutMultiplierMs = multiplier;
    s.readTotalTimeoutConstantMs = constant;
    return s;
}

TEST(ReadTimeOuts, EveryRowOfTheRulesOnAPseudoTerminal) {
    const ReadRow rows[] = {
        {"the settings in use, no reply", 20, 1, 30, 11, {}, 0, 41ms},
        {"the settings in use, short reply", 20, 1, 30, 11, {{0ms, 5}}, 5, 20ms},
        {"interval 0 is not used: only the total ends it",
         0,
         0,
         100,
         10,
         {{0ms, 3}, {60ms, 3}},
         6,
         100ms},
        {"totals 0: no total time-out, the interval after the first byte ends it",
         30,
         0,
         0,
         10,
         {{150ms, 2}, {170ms, 2}},
         4,
         200ms},
        {"the count ends it before any time-out", 0, 0, 0, 10, {{50ms, 4}, {120ms, 6}}, 10, 120ms},
        {"MAXDWORD/0/0 returns at once with what is there", kMax, 0, 0, 10, {{-20ms, 5}}, 5, 0ms},
        {"MAXDWORD/0/0 returns at once with nothing", kMax, 0, 0, 10, {{40ms, 5}}, 0, 0ms},
        {"first-byte mode: what is there at once", kMax, kMax, 200, 10, {{-20ms, 4}}, 4, 0ms},
        {"first-byte mode: the first bytes to arrive",
         kMax,
         kMax,
         200,
         10,
         {{50ms, 3}, {80ms, 3}},
         3,
         50ms},
        {"first-byte mode: nothing within the constant", kMax, kMax, 200, 10, {}, 0, 200ms},
        {"MAXDWORD interval with totals: what is there at once",
         kMax,
         0,
         150,
         10,
         {{-20ms, 2}},
         2,
         0ms},
        {"MAXDWORD interval with totals: else the total alone",
         kMax,
         0,
         150,
         10,
         {{30ms, 2}, {60ms, 2}},
         4,
         150ms},
        {"MAXDWORD interval and constant: no timer, the count ends it",
         kMax,
         0,
         kMax,
         6,
         {{40ms, 3}, {90ms, 3}},
         6,
         90ms},
    };
    for (const ReadRow& row : rows) {
        SCOPED_TRACE(row.what);
        PtyPeer peer;
        CSerialComm port;
        port.SetSettings(WithReadTimeouts(row.interval, row.multiplier, row.constant));
        port.SetDevicePathOverride(peer.DevicePath());
        ASSERT_EQ(port.Open(), 1) << port.LastErrorText();

        auto start = Clock::now() + 30ms;  // leaves room for bursts before the read
        for (const Burst& burst : row.schedule) {
            if (burst.at < 0ms) {
                peer.Send(std::string(burst.bytes, 'k'));
            }
        }
        std::this_thread::sleep_until(start);
        start = Clock::now();
        std::thread sender([&] {
            for (const Burst& burst : row.schedule) {
                if (burst.at >= 0ms) {
                    std::this_thread::sleep_until(start + burst.at);
                    peer.Send(std::string(burst.bytes, 'k'));
                }
            }
        });
        std::vector<uint8_t> buffer(row.count);
        const uint32_t got = port.Read(buffer.data(), row.count);
        const auto took = Clock::now() - start;
        sender.join();
        EXPECT_EQ(got, row.expectedBytes);
        EXPECT_GE(took, row.expectedTime);
        EXPECT_LT(took, row.expectedTime + kSlack);
    }
}

TEST(WriteTimeOuts, TotalsZeroWaitForThePeerOtherwiseTheWriteGivesUp) {
    // Far more than a pseudo-terminal buffers, so the write has to wait for the far end.
    const std::vector<uint8_t> big(256 * 1024, 'w');
    for (const bool bounded : {false, true}) {
        SCOPED_TRACE(bounded ? "constant 60 ms" : "totals 0");
        PtyPeer peer;
        CSerialComm port;
        SerialSettings s = WithReadTimeouts(20, 1, 30);
        s.writeTotalTimeoutMultiplierMs = 0;
        s.writeTotalTimeoutConstantMs = bounded ? 60 : 0;
        port.SetSettings(s);
        port.SetDevicePathOverride(peer.DevicePath());
        ASSERT_EQ(port.Open(), 1) << port.LastErrorText();

        const auto start = Clock::now();
        std::thread reader([&] {
            std::this_thread::sleep_until(start + 150ms);
            peer.Receive(big.size(), bounded ? 300ms : 5s);
        });
        const int result = port.Write(big.data(), static_cast<uint32_t>(big.size()));
        const auto took = Clock::now() - start;
        reader.join();
        if (bounded) {
            EXPECT_EQ(result, 0);
            EXPECT_GE(took, 60ms);
            EXPECT_LT(took, 60ms + kSlack);
        } else {
            EXPECT_EQ(result, 1);
            EXPECT_GE(took, 150ms) << "returned before the far end took the bytes";
        }
    }
}

TEST(PortSettings, ChangesTakeEffectAtTheNextOpen) {
    PtyPeer peer;
    CSerialComm port;
    port.SetSettings(WithReadTimeouts(20, 1, 30));
    port.SetDevicePathOverride(peer.DevicePath());
    ASSERT_EQ(port.Open(), 1) << port.LastErrorText();
    port.SetSettings(WithReadTimeouts(20, 0, 150));

    uint8_t buffer[10];
    auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer, sizeof buffer), 0u);
    auto took = Clock::now() - start;
    EXPECT_GE(took, 40ms);
    EXPECT_LT(took, 40ms + kSlack) << "the open port changed its time-outs";

    port.Close();
    ASSERT_EQ(port.Open(), 1) << port.LastErrorText();
    start = Clock::now();
    EXPECT_EQ(port.Read(buffer, sizeof buffer), 0u);
    took = Clock::now() - start;
    EXPECT_GE(took, 150ms);
    EXPECT_LT(took, 150ms + kSlack);
}

}  // namespace
}  // namespace k5
