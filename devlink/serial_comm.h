#pragma once

#include <cstdint>
#include <string>

#include "serialport/comm_timeouts.h"
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
    // The waits of the settings the open port was opened with.
    ReadWaits readWaits_;
    TotalTimeout writeTimeout_;
    std::string devicePathOverride_;
    SerialPort port_;
};

// Both programs run the line at 115200 baud: they take the settings out of a fresh record,
// select that rate and put them back before the first Open.
void SelectAmplifierBaudRate(CSerialComm& port);

}  // namespace k5
