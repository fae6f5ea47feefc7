#include "devlink/serial_comm.h"

#include <chrono>

#include "devlink/com_port.h"

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
    const auto timeout =
        std::chrono::milliseconds(uint64_t{settings_.writeTotalTimeoutMultiplierMs} * count +
                                  settings_.writeTotalTimeoutConstantMs);
    return port_.Write(data, count, timeout) == count ? 1 : 0;
}

uint32_t CSerialComm::Read(uint8_t* buffer, uint32_t maxCount) {
    if (!isOpen_) {
        return 0;
    }
    const auto interval = std::chrono::milliseconds(settings_.readIntervalTimeoutMs);
    const auto total =
        std::chrono::milliseconds(uint64_t{settings_.readTotalTimeoutMultiplierMs} * maxCount +
                                  settings_.readTotalTimeoutConstantMs);
    return static_cast<uint32_t>(port_.Read(buffer, maxCount, interval, total));
}

void SelectAmplifierBaudRate(CSerialComm& port) {
    SerialSettings settings;
    port.GetSettings(settings);
    settings.baudRateIndex = kBaudIndex115200;
    port.SetSettings(settings);
}

}  // namespace k5
