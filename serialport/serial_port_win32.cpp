// The serial device on Windows: a thin layer over the communications functions. The device
// is opened synchronously and without sharing, its line settings and time-outs are applied
// once at Open, and every read and write is one blocking call that the device's own
// time-outs bound.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "serialport/comm_timeouts.h"
#include "serialport/serial_port.h"

namespace k5 {

namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kEventMask = EV_RXCHAR | EV_RXFLAG;
static_assert(kPurgeAll == 0x000F && kEventMask == 0x0003);

// What the record keeps of an open device; the port's handle value points at it.
struct Device {
    HANDLE handle = INVALID_HANDLE_VALUE;
    CommTimeoutValues applied;       // the time-outs the device has
    uint32_t requestedInterval = 0;  // the read interval of the settings, as asked for
};

Device* DeviceOf(intptr_t handle) {
    return reinterpret_cast<Device*>(handle);
}

std::string SystemText(DWORD error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result;
    if (length > 0 && text != nullptr) {
        result.assign(text, length);
        while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                                   result.back() == ' ' || result.back() == '.')) {
            result.pop_back();
        }
    }
    if (text != nullptr) {
        LocalFree(text);
    }
    if (result.empty()) {
        result = "system error " + std::to_string(error);
    } else {
        result += " (error " + std::to_string(error) + ")";
    }
    return result;
}

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

COMMTIMEOUTS ToDevice(const CommTimeoutValues& t) {
    COMMTIMEOUTS c{};
    c.ReadIntervalTimeout = t.readInterval;
    c.ReadTotalTimeoutMultiplier = t.readTotalMultiplier;
    c.ReadTotalTimeoutConstant = t.readTotalConstant;
    c.WriteTotalTimeoutMultiplier = t.writeTotalMultiplier;
    c.WriteTotalTimeoutConstant = t.writeTotalConstant;
    return c;
}

bool SetTimeouts(HANDLE handle, const CommTimeoutValues& t) {
    COMMTIMEOUTS c = ToDevice(t);  // the declaration takes a non-const pointer
    return SetCommTimeouts(handle, &c) != 0;
}

DWORD ClampMs(std::chrono::milliseconds ms) {
    if (ms.count() <= 0) {
        return 0;
    }
    return ms.count() >= static_cast<int64_t>(kCommTimeoutMax - 1) ? kCommTimeoutMax - 1
                                                                   : static_cast<DWORD>(ms.count());
}

// A read or write error that means the device went away (a USB adapter unplugged), as
// opposed to a purge that aborted the transfer.
bool DeviceGone(DWORD error) {
    switch (error) {
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_GEN_FAILURE:
        case ERROR_INVALID_HANDLE:
        case ERROR_ACCESS_DENIED:
        case ERROR_BROKEN_PIPE:
            return true;
        default:
            return false;
    }
}

}  // namespace

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

    const HANDLE handle = CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
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
                Fail(PortError::Other, devicePath + ": " + SystemText(error));
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

    if (GetFileType(handle) != FILE_TYPE_CHAR) {
        return failOpen(PortError::NotSerialDevice, "not a serial device");
    }
    // A failed read of the current settings is not fatal: applying them decides.
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    (void)GetCommState(handle, &dcb);
    (void)ApplyLineSettings(settings, dcb);
    if (!SetCommState(handle, &dcb)) {
        const DWORD error = GetLastError();
        if (error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED) {
            return failOpen(PortError::NotSerialDevice,
                            "not a serial device (" + SystemText(error) + ")");
        }
        return failOpen(PortError::SettingsNotApplied,
                        "cannot apply line settings: " + SystemText(error));
    }
    DCB readBack{};
    readBack.DCBlength = sizeof(DCB);
    if (!GetCommState(handle, &readBack) || !SettingsTook(dcb, readBack)) {
        return failOpen(PortError::SettingsNotApplied, "the device did not keep the line settings");
    }

    auto device = std::make_unique<Device>();
    device->handle = handle;
    device->applied = ToCommTimeouts(settings);
    device->requestedInterval = settings.readIntervalTimeoutMs;
    if (!SetTimeouts(handle, device->applied)) {
        return failOpen(PortError::SettingsNotApplied,
                        "cannot apply time-outs: " + SystemText(GetLastError()));
    }

    (void)SetupComm(handle, settings.inputQueueSize, settings.outputQueueSize);
    PurgeComm(handle, kPurgeAll);
    SetCommMask(handle, kEventMask);
    handle_ = reinterpret_cast<intptr_t>(device.release());
    return true;
}

void SerialPort::Close() {
    if (!IsOpen()) {
        return;
    }
    std::unique_ptr<Device> device(DeviceOf(handle_));
    handle_ = kInvalidHandle;
    SetCommMask(device->handle, 0);
    CloseHandle(device->handle);
}

void SerialPort::Purge() {
    if (IsOpen() && !hungUp_) {
        PurgeComm(DeviceOf(handle_)->handle, kPurgeAll);
    }
}

size_t SerialPort::Write(const uint8_t* data, size_t count,
                         std::chrono::milliseconds totalTimeout) {
    if (!IsOpen() || hungUp_ || count == 0) {
        return 0;
    }
    Device& device = *DeviceOf(handle_);
    // Pending line errors would stop the transfer; their flags are not used.
    DWORD errors = 0;
    (void)ClearCommError(device.handle, &errors, nullptr);

    const DWORD chunk = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(count);
    // The time-outs applied at Open already give the usual limit; any other is set for this
    // call only.
    const bool ownLimit = WriteTotalMs(device.applied, chunk) != uint64_t(totalTimeout.count());
    if (ownLimit) {
        CommTimeoutValues once = device.applied;
        once.writeTotalMultiplier = 0;
        once.writeTotalConstant = std::max<DWORD>(ClampMs(totalTimeout), 1);
        (void)SetTimeouts(device.handle, once);
    }
    DWORD written = 0;
    if (!WriteFile(device.handle, data, chunk, &written, nullptr)) {
        if (DeviceGone(GetLastError())) {
            MarkHungUp();
        }
    }
    if (ownLimit) {
        (void)SetTimeouts(device.handle, device.applied);
    }
    return written;
}

size_t SerialPort::Read(uint8_t* buffer, size_t maxCount, std::chrono::milliseconds interval,
                        std::chrono::milliseconds total) {
    if (!IsOpen() || hungUp_ || maxCount == 0) {
        return 0;
    }
    Device& device = *DeviceOf(handle_);
    SetCommMask(device.handle, kEventMask);

    const DWORD chunk = maxCount > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(maxCount);
    const bool usual = interval.count() == int64_t{device.requestedInterval} &&
                       uint64_t(total.count()) == ReadTotalMs(device.applied, chunk);
    if (!usual) {
        SerialSettings once;
        once.readIntervalTimeoutMs = ClampMs(interval);
        once.readTotalTimeoutMultiplierMs = 0;
        once.readTotalTimeoutConstantMs = ClampMs(total);
        CommTimeoutValues t = ToCommTimeouts(once);
        t.writeTotalMultiplier = device.applied.writeTotalMultiplier;
        t.writeTotalConstant = device.applied.writeTotalConstant;
        (void)SetTimeouts(device.handle, t);
    }
    DWORD got = 0;
    const BOOL ok = ReadFile(device.handle, buffer, chunk, &got, nullptr);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    if (!usual) {
        (void)SetTimeouts(device.handle, device.applied);
    }
    if (!ok) {
        if (DeviceGone(error)) {
            MarkHungUp();
        }
        return 0;
    }
    return got;
}

}  // namespace k5
