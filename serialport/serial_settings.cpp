#include "serialport/serial_settings.h"

#include <array>

namespace k5 {

namespace {
constexpr std::array<uint32_t, 14> kBaudRates = {
    110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200, 128000, 256000};
constexpr std::array<uint8_t, 3> kByteSizes = {7, 8, 9};
}  // namespace

std::optional<uint32_t> BaudRateFromIndex(uint8_t index) {
    if (index >= kBaudRates.size()) {
        return std::nullopt;
    }
    return kBaudRates[index];
}

std::optional<uint8_t> ByteSizeFromIndex(uint8_t index) {
    if (index >= kByteSizes.size()) {
        return std::nullopt;
    }
    return kByteSizes[index];
}

std::optional<Parity> ParityFromIndex(uint8_t index) {
    if (index > static_cast<uint8_t>(Parity::Space)) {
        return std::nullopt;
    }
    return static_cast<Parity>(index);
}

std::optional<StopBits> StopBitsFromIndex(uint8_t index) {
    if (index > static_cast<uint8_t>(StopBits::Two)) {
        return std::nullopt;
    }
    return static_cast<StopBits>(index);
}

}  // namespace k5
