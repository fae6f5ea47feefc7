#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "serialport/serial_settings.h"

namespace k5 {

// Why a port could not be opened, or why it stopped working. The port record still answers
// with the plain 1/0 results; this is kept for diagnostics.
enum class PortError {
    None,
    NotFound,            // no such device
    InUse,               // another program (or record) holds it
    PermissionDenied,    // not allowed to open it
    NotSerialDevice,     // the path is not a terminal device
    UnsupportedSetting,  // an index or value the platform cannot apply
    SettingsNotApplied,  // the device did not keep the line settings
    HungUp,              // the line went away while open
    Other,
};

const char* Describe(PortError error);

// The operating system's serial device, and nothing else: opening and configuring it, and
// reads and writes with Windows-style time-outs. One implementation file per platform
// (serial_port_posix.cpp, serial_port_win32.cpp); no code outside those files sees a file
// descriptor, termios or a Win32 handle.
class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort();  // releases the device if it is still open
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the device exclusively and applies the line settings of `settings`. A device that
    // another process already has open is refused, naming that process where the system
    // tells ("in use by minicom (pid 1234)"). On failure the port stays closed, nothing of
    // the attempt is left on the device, and `LastError`/`LastErrorText` tell why.
    bool Open(const std::string& devicePath, const SerialSettings& settings);
    void Close();
    bool IsOpen() const { return handle_ != kInvalidHandle; }

    // Discards both directions' buffered bytes.
    void Purge();

    // No time-out: the wait ends only when its condition is met.
    static constexpr std::chrono::milliseconds kNoTimeout = std::chrono::milliseconds::max();

    // Writes `count` bytes and returns once they have left the driver's output queue (as a
    // Windows port does), giving up at `totalTimeout` (kNoTimeout: never); returns how many
    // left. Bytes still queued when it gives up are discarded, not sent later.
    size_t Write(const uint8_t* data, size_t count, std::chrono::milliseconds totalTimeout);

    // Reads until `maxCount` bytes have arrived, `interval` has passed since the last byte
    // received, or `total` has passed since the call began; returns how many arrived,
    // counting bytes already waiting when a time-out ends it. `interval` 0 ends the read as
    // soon as some bytes are in; `total` 0 takes what is already there without waiting;
    // kNoTimeout switches either off. A line that hangs up fails the read (0) at once and
    // every later read and write with it.
    size_t Read(uint8_t* buffer, size_t maxCount, std::chrono::milliseconds interval,
                std::chrono::milliseconds total);

    bool HungUp() const { return hungUp_; }
    PortError LastError() const { return lastError_; }
    const std::string& LastErrorText() const { return lastErrorText_; }

private:
    static constexpr intptr_t kInvalidHandle = -1;

    void Fail(PortError error, std::string text);
    void MarkHungUp();

    intptr_t handle_ = kInvalidHandle;
    std::string lockFile_;  // POSIX: the UUCP lock file held while the port is open
    bool hungUp_ = false;
    PortError lastError_ = PortError::None;
    std::string lastErrorText_;
};

}  // namespace k5
