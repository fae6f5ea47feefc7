#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "serialport/comm_timeouts.h"
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
// descriptor, termios or a Win32 handle. The waits come from the time-out rules
// (comm_timeouts.h); a backend only maps them onto its device.
class SerialPort {
public:
    SerialPort();
    ~SerialPort();  // releases the device if it is still open
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the device exclusively and applies the line settings of `settings`. A device that
    // another process already has open is refused, naming that process where the system
    // tells ("in use by minicom (pid 1234)"). On failure the port stays closed, nothing of
    // the attempt is left on the device, and `LastError`/`LastErrorText` tell why.
    bool Open(const std::string& devicePath, const SerialSettings& settings);
    void Close();
    bool IsOpen() const { return native_ != nullptr; }

    // Discards both directions' buffered bytes.
    void Purge();

    // Writes `count` bytes and returns once they have left the driver's output queue (as a
    // Windows port does), giving up at the `total` time-out for `count` bytes (none: never);
    // returns how many left. Bytes still queued when it gives up are discarded, not sent later.
    size_t Write(const uint8_t* data, size_t count, const TotalTimeout& total);

    // Reads until `maxCount` bytes have arrived or a time-out of `timeouts` ends the read;
    // returns how many arrived, counting bytes already waiting when a time-out ends it. A
    // line that hangs up fails the read (0) at once and every later read and write with it.
    size_t Read(uint8_t* buffer, size_t maxCount, const ReadTimeouts& timeouts);

    bool HungUp() const { return hungUp_; }
    PortError LastError() const { return lastError_; }
    const std::string& LastErrorText() const { return lastErrorText_; }

private:
    // The open device as the platform keeps it; each backend defines it in its own file.
    struct Native;

    void Fail(PortError error, std::string text);
    void MarkHungUp();

    std::unique_ptr<Native> native_;  // none while the port is closed
    bool hungUp_ = false;
    PortError lastError_ = PortError::None;
    std::string lastErrorText_;
};

}  // namespace k5
