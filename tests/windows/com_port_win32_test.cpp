#include <gtest/gtest.h>

#include "devlink/serial_comm.h"
#include "serialport/com_port.h"
#include "serialport/comm_timeouts_win32.h"

namespace k5 {
namespace {

using namespace std::chrono_literals;

TEST(ComPortMappingWin32, PortsUseTheDeviceNamespaceSoThatCom10AndAboveOpen) {
    EXPECT_EQ(ComPortDevicePath(1), "\\\\.\\COM1");
    EXPECT_EQ(ComPortDevicePath(10), "\\\\.\\COM10");
    EXPECT_EQ(ComPortDevicePath(255), "\\\\.\\COM255");
    EXPECT_EQ(ComPortDevicePath(0), "");
    EXPECT_EQ(PortExists(0), 0);
}

// Fields of the device's record that a call must leave alone.
constexpr COMMTIMEOUTS kOther{7, 8, 9, 10, 11};

TEST(CommTimeoutsWin32, EachReadBecomesTheDeviceRecordOfTheSameMeaning) {
    const struct {
        const char* what;
        ReadTimeouts read;
        DWORD count;
        DWORD interval, multiplier, constant;
    } cases[] = {
        {"the settings in use", {20ms, {1ms, 30ms}}, 11, 20, 1, 30},
        {"no interval", {kNoTimeout, {0ms, 100ms}}, 10, 0, 0, 100},
        {"no total", {30ms, {}}, 10, 30, 0, 0},
        {"no time-out at all", {kNoTimeout, {}}, 10, 0, 0, 0},
        {"what is there, at once", {kNoTimeout, kNoWait}, 10, MAXDWORD, 0, 0},
        {"a total of 0 for this count", {20ms, {0ms, 0ms}}, 10, MAXDWORD, 0, 0},
        {"the first bytes to arrive", {0ms, {0ms, 200ms}}, 10, MAXDWORD, MAXDWORD, 200},
        {"the first bytes, per byte too", {0ms, {2ms, 200ms}}, 10, MAXDWORD, MAXDWORD, 220},
        {"the first bytes, whenever", {0ms, {}}, 10, MAXDWORD, MAXDWORD, MAXDWORD - 1},
        // A gap of MAXDWORD would switch the device into another mode.
        {"the longest gap",
         {std::chrono::milliseconds(MAXDWORD), {1ms, 30ms}},
         10,
         MAXDWORD - 1,
         1,
         30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const COMMTIMEOUTS t = WithReadTimeouts(kOther, c.read, c.count);
        EXPECT_EQ(t.ReadIntervalTimeout, c.interval);
        EXPECT_EQ(t.ReadTotalTimeoutMultiplier, c.multiplier);
        EXPECT_EQ(t.ReadTotalTimeoutConstant, c.constant);
        EXPECT_EQ(t.WriteTotalTimeoutMultiplier, kOther.WriteTotalTimeoutMultiplier);
        EXPECT_EQ(t.WriteTotalTimeoutConstant, kOther.WriteTotalTimeoutConstant);
    }
}

TEST(CommTimeoutsWin32, EachWriteBecomesTheDeviceRecordOfTheSameMeaning) {
    const struct {
        const char* what;
        TotalTimeout write;
        DWORD multiplier, constant;
    } cases[] = {
        {"the settings in use", {1ms, 30ms}, 1, 30},
        {"no limit", {}, 0, 0},
        // 0 + 0 is no limit to the device.
        {"give up at once", {0ms, 0ms}, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const COMMTIMEOUTS t = WithWriteTimeout(kOther, c.write, 7);
        EXPECT_EQ(t.WriteTotalTimeoutMultiplier, c.multiplier);
        EXPECT_EQ(t.WriteTotalTimeoutConstant, c.constant);
        EXPECT_EQ(t.ReadIntervalTimeout, kOther.ReadIntervalTimeout);
        EXPECT_EQ(t.ReadTotalTimeoutMultiplier, kOther.ReadTotalTimeoutMultiplier);
        EXPECT_EQ(t.ReadTotalTimeoutConstant, kOther.ReadTotalTimeoutConstant);
    }
}

// The record is set again only when it differs: every field counts.
TEST(CommTimeoutsWin32, RecordsDifferInAnyField) {
    EXPECT_TRUE(SameTimeouts(kOther, kOther));
    DWORD COMMTIMEOUTS::*const fields[] = {
        &COMMTIMEOUTS::ReadIntervalTimeout, &COMMTIMEOUTS::ReadTotalTimeoutMultiplier,
        &COMMTIMEOUTS::ReadTotalTimeoutConstant, &COMMTIMEOUTS::WriteTotalTimeoutMultiplier,
        &COMMTIMEOUTS::WriteTotalTimeoutConstant};
    for (DWORD COMMTIMEOUTS::*field : fields) {
        COMMTIMEOUTS changed = kOther;
        ++(changed.*field);
        EXPECT_FALSE(SameTimeouts(changed, kOther));
    }
}

}  // namespace
}  // namespace k5
