#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>

#include "devlink/serial_comm.h"
#include "serialport/com_port.h"
#include "serialport/comm_failure_win32.h"
#include "serialport/comm_timeouts_win32.h"
#include "serialport/serial_port.h"

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

// A USB adapter whose driver does not tell its file type is still tried as a port.
TEST(CommFailureWin32, OnlyDisksAndPipesAreRefusedForTheirFileType) {
    const struct {
        DWORD type;
        bool refused;
    } cases[] = {
        {FILE_TYPE_CHAR, false}, {FILE_TYPE_UNKNOWN, false}, {FILE_TYPE_REMOTE, false},
        {FILE_TYPE_DISK, true},  {FILE_TYPE_PIPE, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RefusedFileType(c.type), c.refused) << "file type " << c.type;
    }
}

TEST(CommFailureWin32, AFailedTransferIsAGoneDeviceOnlyWhenThePortSaysSo) {
    const struct {
        const char* what;
        DWORD ioError;
        bool portAnswers;
        bool gone;
    } cases[] = {
        {"a purge aborted it", ERROR_OPERATION_ABORTED, true, false},
        {"a passing driver failure", ERROR_GEN_FAILURE, true, false},
        {"a passing refusal", ERROR_ACCESS_DENIED, true, false},
        {"a driver failure, and the port is silent", ERROR_GEN_FAILURE, false, true},
        {"anything, and the port is silent", ERROR_OPERATION_ABORTED, false, true},
        {"device removed", ERROR_DEVICE_REMOVED, true, true},
        {"device does not exist", ERROR_DEV_NOT_EXIST, true, true},
        {"no such device", kErrorNoSuchDevice, true, true},
        {"device not connected", ERROR_DEVICE_NOT_CONNECTED, true, true},
        {"device not ready", ERROR_NOT_READY, true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DeviceGone(c.ioError, c.portAnswers), c.gone) << c.what;
    }
}

std::string TempPath(const char* name) {
    char folder[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, folder);
    return std::string(folder, length) + name;
}

// Some drivers refuse a port for a moment after it was closed: a refusal is tried again for
// about 300 ms before it means that another program holds the port.
TEST(SerialPortWin32, AnAccessRefusalIsTriedAgainBeforeItMeansInUse) {
    // A folder cannot be opened as a file: the system refuses access, as such a driver does.
    const std::string folder =
        TempPath("k5-refusing-port-") + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    SerialPort port;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.Open(folder, SerialSettings{}));
    const auto tried = std::chrono::steady_clock::now() - start;
    RemoveDirectoryA(folder.c_str());
    EXPECT_EQ(port.LastError(), PortError::InUse) << port.LastErrorText();
    EXPECT_NE(port.LastErrorText().find("in use by another program"), std::string::npos);
    EXPECT_GE(tried, 250ms) << "the refusal was not tried again";
}

}  // namespace
}  // namespace k5
