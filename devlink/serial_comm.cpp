#include "devlink/serial_comm.h"

#include "serialport/com_port.h"

namespace k5 {

std::string CSerialComm::DevicePath() const {
    return devicePathOverride_.empty() ? ComPortDevicePath(portNumber_) : devicePathOverride_;
}

int CSerialComm::Open() {
    if (isOpen_) {
        return 1;
    }
    if (!port_.Open(DevicePath(), settings_)) {
        return 0;
    }
    readWaits_ = ReadWaitsFor(settings_);
    writeTimeout_ = WriteTimeoutFor(settings_);
    port_.Purge();
    isOpen_ = 1;
    return 1;
}

void CSerialComm::Close() {
    if (!isOpen_) {
        return;
    }
    port_.Close();
    isOpen_ = 0;
}

void CSerialComm::Purge() {
    if (isOpen_) {
        port_.Purge();
    }
}

int CSerialComm::Write(const uint8_t* data, uint32_t count) {
    if (!isOpen_) {
        return 0;
    }
    return port_.Write(data, count, writeTimeout_) == count ? 1 : 0;
}

uint32_t CSerialComm::Read(uint8_t* buffer, uint32_t maxCount) {
    if (!isOpen_) {
        return 0;
    }
    const ReadTimeouts& timeouts = readWaits_.timeouts;
    if (readWaits_.takeWaitingFirst) {
        const size_t waiting = port_.Read(buffer, maxCount, {timeouts.interval, kNoWait});
        if (waiting > 0 || port_.HungUp() || timeouts.total == kNoWait) {
            return static_cast<uint32_t>(waiting);
        }
    }
    return static_cast<uint32_t>(port_.Read(buffer, maxCount, timeouts));
}

void SelectAmplifierBaudRate(CSerialComm& port) {
    SerialSettings settings;
    port.GetSettings(settings);
    settings.baudRateIndex = kBaudIndex115200;
    port.SetSettings(settings);
}

}  // namespace k5
