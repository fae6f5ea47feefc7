#include "devlink/serial_comm.h"

#include <chrono>

#include "serialport/com_port.h"

namespace k5 {

namespace {

constexpr std::chrono::milliseconds kNoWait{0};

std::chrono::milliseconds TotalTimeout(uint32_t multiplierMs, uint32_t constantMs, uint32_t count) {
    return std::chrono::milliseconds(uint64_t{multiplierMs} * count + constantMs);
}

}  // namespace

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
    openSettings_ = settings_;
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
    return port_.Write(data, count, WriteTimeoutFor(openSettings_, count)) == count ? 1 : 0;
}

uint32_t CSerialComm::Read(uint8_t* buffer, uint32_t maxCount) {
    if (!isOpen_) {
        return 0;
    }
    const ReadWaits waits = ReadWaitsFor(openSettings_, maxCount);
    if (waits.takeWaitingFirst) {
        const size_t waiting = port_.Read(buffer, maxCount, waits.interval, kNoWait);
        if (waiting > 0 || port_.HungUp() || waits.total == kNoWait) {
            return static_cast<uint32_t>(waiting);
        }
    }
    return static_cast<uint32_t>(port_.Read(buffer, maxCount, waits.interval, waits.total));
}

ReadWaits ReadWaitsFor(const SerialSettings& s, uint32_t count) {
    const uint32_t interval = s.readIntervalTimeoutMs;
    const uint32_t multiplier = s.readTotalTimeoutMultiplierMs;
    const uint32_t constant = s.readTotalTimeoutConstantMs;
    ReadWaits waits;
    if (interval != kMaxDword) {
        if (interval != 0) {
            waits.interval = std::chrono::milliseconds(interval);
        }
        if (multiplier != 0 || constant != 0) {
            waits.total = TotalTimeout(multiplier, constant, count);
        }
        return waits;
    }
    if (multiplier == 0 && constant == 0) {
        waits.takeWaitingFirst = true;
        waits.total = kNoWait;
    } else if (constant != kMaxDword && multiplier == kMaxDword) {
        // Wait for the first bytes: an interval of 0 ends the read once some are in.
        waits.takeWaitingFirst = true;
        waits.interval = std::chrono::milliseconds(0);
        waits.total = std::chrono::milliseconds(constant);
    } else if (constant != kMaxDword) {
        waits.takeWaitingFirst = true;
        waits.total = TotalTimeout(multiplier, constant, count);
    }
    // A constant of MAXDWORD with an interval of MAXDWORD sets no timer at all.
    return waits;
}

std::chrono::milliseconds WriteTimeoutFor(const SerialSettings& s, uint32_t count) {
    if (s.writeTotalTimeoutMultiplierMs == 0 && s.writeTotalTimeoutConstantMs == 0) {
        return SerialPort::kNoTimeout;
    }
    return TotalTimeout(s.writeTotalTimeoutMultiplierMs, s.writeTotalTimeoutConstantMs, count);
}

void SelectAmplifierBaudRate(CSerialComm& port) {
    SerialSettings settings;
    port.GetSettings(settings);
    settings.baudRateIndex = kBaudIndex115200;
    port.SetSettings(settings);
}

}  // namespace k5
