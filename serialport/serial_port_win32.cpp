// The serial device on Windows: a thin layer over the communications functions. The device
// is opened synchronously and without sharing, its line settings are applied once at Open,
// and every read and write is one blocking call that the device's own time-outs bound: the
// call's waits in the device's record, set only when they differ from the record it has.
#include <windows.h>

#include <memory>
#include <optional>

#include "platform/os_error.h"
#include "serialport/comm_failure_win32.h"
#include "serialport/comm_timeouts_win32.h"
#include "serialport/serial_port.h"

namespace k5 {

namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kEventMask = EV_RXCHAR | EV_RXFLAG;
static_assert(kPurgeAll == 0x000F && kEventMask == 0x0003);

// Wine reads back DTR and RTS control as "enabled" whatever was set, and cannot drive those
// lines on a pseudo-terminal; real Windows keeps what was set.
bool RunningUnderWine() {
    static const bool wine = [] {
        const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

// The line settings of `s` in `dcb`, or the reason they cannot be expressed. Every field the
// record does not set keeps the value the device reported.
std::optional<std::string> ApplyLineSettings(const SerialSettings& s, DCB& dcb) {
    const auto baud = BaudRateFromIndex(s.baudRateIndex);
    if (!baud) {
        return "baud rate index " + std::to_string(s.baudRateIndex) + " is out of range";
    }
    const auto byteSize = ByteSizeFromIndex(s.byteSizeIndex);
    if (!byteSize) {
        return "byte size index " + std::to_string(s.byteSizeIndex) + " is out of range";
    }
    if (!ParityFromIndex(s.parityIndex)) {
        return "parity index " + std::to_string(s.parityIndex) + " is out of range";
    }
    if (!StopBitsFromIndex(s.stopBitsIndex)) {
        return "stop bits index " + std::to_string(s.stopBitsIndex) + " is out of range";
    }
    dcb.BaudRate = *baud;
    dcb.ByteSize = *byteSize;
    dcb.Parity = s.parityIndex;  // the table's values are the device's own codes
    dcb.StopBits = s.stopBitsIndex;
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    return std::nullopt;
}

bool SettingsTook(const DCB& wanted, const DCB& got) {
    const bool modemLines = RunningUnderWine() || (got.fDtrControl == wanted.fDtrControl &&
                                                   got.fRtsControl == wanted.fRtsControl);
    return modemLines && got.BaudRate == wanted.BaudRate && got.ByteSize == wanted.ByteSize &&
           got.Parity == wanted.Parity && got.StopBits == wanted.StopBits &&
           got.fOutxCtsFlow == wanted.fOutxCtsFlow && got.fOutxDsrFlow == wanted.fOutxDsrFlow &&
           got.fOutX == wanted.fOutX && got.fInX == wanted.fInX;
}

// Until the first read or write gives its own: reads return at once, writes have no limit.
constexpr COMMTIMEOUTS kOpenTimeouts{MAXDWORD, 0, 0, 0, 0};

// Some drivers refuse a port for a moment after its previous handle closed, with the answer
// they give for a port another program holds; detection opens and closes ports in quick
// succession. Only a refusal that lasts this long is taken as a holder.
constexpr ULONGLONG kAccessDeniedRetryMs = 300;
constexpr DWORD kAccessDeniedPauseMs = 20;

HANDLE OpenDevice(const std::string& devicePath) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        const HANDLE handle = CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED ||
            GetTickCount64() - start >= kAccessDeniedRetryMs) {
            return handle;
        }
        Sleep(kAccessDeniedPauseMs);
    }
}

// Asks the port about a read or write that just failed: a port that no longer answers has
// gone, and the failure's own code may say so too. The answer also clears the port's error
// state, so that the next transfer is not stopped by it.
bool GoneAfterFailure(HANDLE handle) {
    const DWORD ioError = GetLastError();
    DWORD errors = 0;
    const bool answers = ClearCommError(handle, &errors, nullptr) != FALSE;
    return DeviceGone(ioError, answers);
}

}  // namespace

struct SerialPort::Native {
    HANDLE handle = INVALID_HANDLE_VALUE;
    COMMTIMEOUTS timeouts{};  // the record the device has

    // Gives the device `wanted` unless it has it already. A device that refuses keeps what
    // it had, and the next call asks again.
    void SetTimeouts(COMMTIMEOUTS wanted) {
        if (!SameTimeouts(wanted, timeouts) && SetCommTimeouts(handle, &wanted)) {
            timeouts = wanted;
        }
    }
};

SerialPort::SerialPort() = default;

SerialPort::~SerialPort() {
    Close();
}

bool SerialPort::Open(const std::string& devicePath, const SerialSettings& settings) {
    Close();
    hungUp_ = false;
    Fail(PortError::None, {});

    if (devicePath.empty()) {
        Fail(PortError::NotFound, "no such port");
        return false;
    }
    DCB wanted{};
    wanted.DCBlength = sizeof(DCB);
    if (const auto why = ApplyLineSettings(settings, wanted)) {
        Fail(PortError::UnsupportedSetting, devicePath + ": " + *why);
        return false;
    }

    const HANDLE handle = OpenDevice(devicePath);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        switch (error) {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
            case ERROR_INVALID_NAME:
            case ERROR_BAD_UNIT:
            case ERROR_DEV_NOT_EXIST:
            case ERROR_BAD_NETPATH:
                Fail(PortError::NotFound, devicePath + ": no such port");
                break;
            case ERROR_SHARING_VIOLATION:
            case ERROR_BUSY:
                Fail(PortError::InUse, devicePath + ": in use by another program");
                break;
            case ERROR_ACCESS_DENIED:
                // What Windows answers for a COM port another program holds.
                Fail(PortError::InUse, devicePath + ": access denied (in use by another program)");
                break;
            default:
                Fail(PortError::Other, devicePath + ": " + SystemErrorText(error));
                break;
        }
        return false;
    }

    // From here on every failure clears the event mask and closes the handle again.
    auto failOpen = [&](PortError error, std::string text) {
        SetCommMask(handle, 0);
        CloseHandle(handle);
        Fail(error, devicePath + ": " + std::move(text));
        return false;
    };

    if (RefusedFileType(GetFileType(handle))) {
        return failOpen(PortError::NotSerialDevice, "not a serial device");
    }
    // A failed read of the current settings is not fatal: applying them decides, also for a
    // port whose driver does not tell its file type.
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    (void)GetCommState(handle, &dcb);
    (void)ApplyLineSettings(settings, dcb);
    if (!SetCommState(handle, &dcb)) {
        const DWORD error = GetLastError();
        if (error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED) {
            return failOpen(PortError::NotSerialDevice,
                            "not a serial device (" + SystemErrorText(error) + ")");
        }
        return failOpen(PortError::SettingsNotApplied,
                        "cannot apply line settings: " + SystemErrorText(error));
    }
    DCB readBack{};
    readBack.DCBlength = sizeof(DCB);
    if (!GetCommState(handle, &readBack) || !SettingsTook(dcb, readBack)) {
        return failOpen(PortError::SettingsNotApplied, "the device did not keep the line settings");
    }

    COMMTIMEOUTS timeouts = kOpenTimeouts;  // the declaration takes a non-const pointer
    if (!SetCommTimeouts(handle, &timeouts)) {
        return failOpen(PortError::SettingsNotApplied,
                        "cannot apply time-outs: " + SystemErrorText(GetLastError()));
    }

    (void)SetupComm(handle, settings.inputQueueSize, settings.outputQueueSize);
    PurgeComm(handle, kPurgeAll);
    SetCommMask(handle, kEventMask);
    native_ = std::make_unique<Native>(Native{handle, timeouts});
    return true;
}

void SerialPort::Close() {
    if (!IsOpen()) {
        return;
    }
    const std::unique_ptr<Native> native = std::move(native_);
    SetCommMask(native->handle, 0);
    CloseHandle(native->handle);
}

void SerialPort::Purge() {
    if (IsOpen() && !hungUp_) {
        PurgeComm(native_->handle, kPurgeAll);
    }
}

size_t SerialPort::Write(const uint8_t* data, size_t count, const TotalTimeout& total) {
    if (!IsOpen() || hungUp_ || count == 0) {
        return 0;
    }
    Native& device = *native_;
    // Pending line errors would stop the transfer; their flags are not used.
    DWORD errors = 0;
    (void)ClearCommError(device.handle, &errors, nullptr);

    const DWORD chunk = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(count);
    device.SetTimeouts(WithWriteTimeout(device.timeouts, total, chunk));
    DWORD written = 0;
    if (!WriteFile(device.handle, data, chunk, &written, nullptr)) {
        if (GoneAfterFailure(device.handle)) {
            MarkHungUp();
        }
    }
    return written;
}

size_t SerialPort::Read(uint8_t* buffer, size_t maxCount, const ReadTimeouts& timeouts) {
    if (!IsOpen() || hungUp_ || maxCount == 0) {
        return 0;
    }
    Native& device = *native_;
    SetCommMask(device.handle, kEventMask);

    const DWORD chunk = maxCount > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(maxCount);
    device.SetTimeouts(WithReadTimeouts(device.timeouts, timeouts, chunk));
    DWORD got = 0;
    if (!ReadFile(device.handle, buffer, chunk, &got, nullptr)) {
        if (GoneAfterFailure(device.handle)) {
            MarkHungUp();
        }
        return 0;
    }
    return got;
}

}  // namespace k5
