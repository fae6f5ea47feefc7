#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "serialport/serial_port.h"
#include "serialport/serial_settings.h"

namespace k5 {

// The port record both programs keep for the amplifier's line: port number, settings and
// the open device. Results are the record's plain integers (1 success, 0 failure).
class CSerialComm {
public:
    explicit CSerialComm(uint8_t portNumber = 0) : portNumber_(portNumber) {}
    virtual ~CSerialComm() = default;
    CSerialComm(const CSerialComm&) = delete;
    CSerialComm& operator=(const CSerialComm&) = delete;

    void SetPortNumber(uint8_t portNumber) { portNumber_ = portNumber; }
    uint8_t PortNumber() const { return portNumber_; }
    void GetSettings(SerialSettings& out) const { out = settings_; }
    // Takes effect at the next Open; an open port keeps the settings it was opened with.
    void SetSettings(const SerialSettings& in) { settings_ = in; }

    // Opens a device path instead of the one the port number maps to (the headless runner's
    // --device). An empty path returns to the port number's mapping.
    void SetDevicePathOverride(std::string path) { devicePathOverride_ = std::move(path); }
    std::string DevicePath() const;

    int Open();
    void Close();
    int IsOpen() const { return isOpen_; }
    void Purge();
    int Write(const uint8_t* data, uint32_t count);
    uint32_t Read(uint8_t* buffer, uint32_t maxCount);

    // Why the last Open failed, or why the line stopped working.
    PortError LastError() const { return port_.LastError(); }
    const std::string& LastErrorText() const { return port_.LastErrorText(); }
    bool HungUp() const { return port_.HungUp(); }

private:
    int isOpen_ = 0;
    uint8_t portNumber_;
    SerialSettings settings_;
    SerialSettings openSettings_;  // the settings the open port was opened with
    std::string devicePathOverride_;
    SerialPort port_;
};

// How a read waits for `count` bytes under the Windows time-out rules, all of them: interval
// 0 is not used; total multiplier and constant both 0 is no total time-out; interval
// MAXDWORD with both totals 0 returns at once with what is there; interval and multiplier
// MAXDWORD with a constant below MAXDWORD return what is there, or else the first bytes to
// arrive within the constant; interval MAXDWORD with other totals returns what is there,
// or else waits under the total time-out alone.
struct ReadWaits {
    bool takeWaitingFirst = false;  // bytes already there end the read at once
    std::chrono::milliseconds interval{SerialPort::kNoTimeout};
    std::chrono::milliseconds total{SerialPort::kNoTimeout};
};
inline constexpr uint32_t kMaxDword = 0xFFFFFFFF;
ReadWaits ReadWaitsFor(const SerialSettings& settings, uint32_t count);
// Write multiplier and constant both 0: no write time-out.
std::chrono::milliseconds WriteTimeoutFor(const SerialSettings& settings, uint32_t count);

// Both programs run the line at 115200 baud: they take the settings out of a fresh record,
// select that rate and put them back before the first Open.
void SelectAmplifierBaudRate(CSerialComm& port);

}  // namespace k5
