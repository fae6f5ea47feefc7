#include "serialport/comm_timeouts.h"

#include <gtest/gtest.h>

namespace k5 {
namespace {

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

TEST(CommTimeouts, SettingsMapToTheDeviceRecordByName) {
    struct Case {
        const char* what;
        SerialSettings settings;
        CommTimeoutValues expected;
    };
    const Case cases[] = {
        {"the settings in use", SerialSettings{}, {20, 1, 30, 1, 30}},
        // The record keeps the write constant first: each field goes to its own time-out.
        {"write constant before multiplier", Times(5, 2, 7, 11, 3), {5, 2, 7, 3, 11}},
        // Zero totals mean "wait for ever" to the device: the record means "do not wait".
        {"no read total", Times(20, 0, 0, 30, 1), {kCommTimeoutMax, 0, 0, 1, 30}},
        {"nothing at all", Times(0, 0, 0, 0, 0), {kCommTimeoutMax, 0, 0, 0, 1}},
        {"read constant alone", Times(20, 0, 30, 30, 1), {20, 0, 30, 1, 30}},
        {"write multiplier alone", Times(20, 1, 30, 0, 2), {20, 1, 30, 2, 0}},
        // MAXDWORD with a total would switch the device into another read mode.
        {"longest gap", Times(kCommTimeoutMax, 1, 30, 30, 1), {kCommTimeoutMax - 1, 1, 30, 1, 30}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToCommTimeouts(c.settings), c.expected) << c.what;
    }
}

TEST(CommTimeouts, TotalsForACount) {
    const CommTimeoutValues inUse = ToCommTimeouts(SerialSettings{});
    EXPECT_EQ(ReadTotalMs(inUse, 11), 41u);  // a register reply
    EXPECT_EQ(ReadTotalMs(inUse, 50), 80u);  // a text reply
    EXPECT_EQ(WriteTotalMs(inUse, 7), 37u);
    EXPECT_EQ(ReadTotalMs(ToCommTimeouts(Times(20, 0, 0, 0, 0)), 50), 0u);
    EXPECT_EQ(WriteTotalMs(ToCommTimeouts(Times(20, 0, 0, 0, 0)), 50), 1u);
    const CommTimeoutValues huge{1, kCommTimeoutMax, kCommTimeoutMax, kCommTimeoutMax, 0};
    EXPECT_EQ(ReadTotalMs(huge, uint64_t{1} << 40),
              uint64_t{kCommTimeoutMax} * kCommTimeoutMax + kCommTimeoutMax)
        << "counts beyond one call's reach are capped, not wrapped";
}

}  // namespace
}  // namespace k5
