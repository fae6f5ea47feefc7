// The time-out rules as waits, without a device: which settings select which mode, and the
// arithmetic the measured rows on a pseudo-terminal cannot reach.
#include "serialport/comm_timeouts.h"

#include <gtest/gtest.h>

namespace k5 {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kMax = kMaxDword;

SerialSettings Times(uint32_t interval, uint32_t readMul, uint32_t readConst, uint32_t writeConst,
                     uint32_t writeMul) {
    SerialSettings s;
    s.readIntervalTimeoutMs = interval;
    s.readTotalTimeoutMultiplierMs = readMul;
    s.readTotalTimeoutConstantMs = readConst;
    s.writeTotalTimeoutConstantMs = writeConst;
    s.writeTotalTimeoutMultiplierMs = writeMul;
    return s;
}

constexpr TotalTimeout kNone{};

TEST(CommTimeouts, EachRuleOfTheSettingsSelectsItsWaits) {
    struct Case {
        const char* what;
        SerialSettings settings;
        ReadWaits read;
        TotalTimeout write;
    };
    const Case cases[] = {
        {"the settings in use", SerialSettings{}, {false, {20ms, {1ms, 30ms}}}, {1ms, 30ms}},
        // The record keeps the write constant first: each field goes to its own time-out.
        {"write constant before multiplier",
         Times(5, 2, 7, 11, 3),
         {false, {5ms, {2ms, 7ms}}},
         {3ms, 11ms}},
        {"interval 0 is not used",
         Times(0, 0, 100, 0, 0),
         {false, {kNoTimeout, {0ms, 100ms}}},
         kNone},
        {"totals 0: no total time-out", Times(30, 0, 0, 0, 1), {false, {30ms, kNone}}, {1ms, 0ms}},
        {"nothing at all", Times(0, 0, 0, 0, 0), {false, {kNoTimeout, kNone}}, kNone},
        {"MAXDWORD/0/0: what is there, at once",
         Times(kMax, 0, 0, 30, 1),
         {true, {kNoTimeout, kNoWait}},
         {1ms, 30ms}},
        {"MAXDWORD/MAXDWORD/c: the first bytes within c",
         Times(kMax, kMax, 200, 30, 1),
         {true, {0ms, {0ms, 200ms}}},
         {1ms, 30ms}},
        {"MAXDWORD with totals: else the total alone",
         Times(kMax, 2, 150, 30, 1),
         {true, {kNoTimeout, {2ms, 150ms}}},
         {1ms, 30ms}},
        {"MAXDWORD interval and constant: no timer",
         Times(kMax, 0, kMax, 30, 1),
         {false, {kNoTimeout, kNone}},
         {1ms, 30ms}},
        {"MAXDWORD everywhere: no timer",
         Times(kMax, kMax, kMax, 30, 1),
         {false, {kNoTimeout, kNone}},
         {1ms, 30ms}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ReadWaits read = ReadWaitsFor(c.settings);
        EXPECT_EQ(read.takeWaitingFirst, c.read.takeWaitingFirst);
        EXPECT_EQ(read.timeouts.interval, c.read.timeouts.interval);
        EXPECT_EQ(read.timeouts.total.perByte, c.read.timeouts.total.perByte);
        EXPECT_EQ(read.timeouts.total.constant, c.read.timeouts.total.constant);
        EXPECT_EQ(WriteTimeoutFor(c.settings), c.write);
    }
}

TEST(CommTimeouts, TotalsForACount) {
    const TotalTimeout inUse = ReadWaitsFor(SerialSettings{}).timeouts.total;
    const struct {
        const char* what;
        TotalTimeout total;
        uint64_t count;
        std::chrono::milliseconds expected;
    } cases[] = {
        {"a register reply", inUse, 11, 41ms},
        {"a text reply", inUse, 50, 80ms},
        {"a command", WriteTimeoutFor(SerialSettings{}), 7, 37ms},
        {"no total", kNone, 50, kNoTimeout},
        {"what is there", kNoWait, 50, 0ms},
        // Huge totals stay exact, 64-bit.
        {"huge",
         {std::chrono::milliseconds(kMax - 1), 7ms},
         512,
         std::chrono::milliseconds(int64_t{kMax - 1} * 512 + 7)},
        {"beyond what a duration holds",
         {std::chrono::milliseconds(kMax), 1ms},
         uint64_t{1} << 40,
         kNoTimeout},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.total.For(c.count), c.expected) << c.what;
    }
}

}  // namespace
}  // namespace k5
