#pragma once

#include <cstdint>
#include <optional>

namespace k5 {

// Line and time-out settings of a port record. The field order is part of the record's
// contract; note that the write constant comes before the write multiplier.
struct SerialSettings {
    uint8_t baudRateIndex = 6;  // 9600 until the owning window selects 115200 (index 11)
    uint8_t byteSizeIndex = 1;  // 8 data bits
    uint8_t parityIndex = 0;    // none
    uint8_t stopBitsIndex = 0;  // one
    uint32_t readIntervalTimeoutMs = 20;
    uint32_t readTotalTimeoutMultiplierMs = 1;
    uint32_t readTotalTimeoutConstantMs = 30;
    uint32_t writeTotalTimeoutConstantMs = 30;
    uint32_t writeTotalTimeoutMultiplierMs = 1;
    uint32_t inputQueueSize = 512;
    uint32_t outputQueueSize = 512;

    friend bool operator==(const SerialSettings&, const SerialSettings&) = default;
};

// The baud-rate index both programs put into the settings before the first Open.
inline constexpr uint8_t kBaudIndex115200 = 11;

enum class Parity : uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class StopBits : uint8_t { One = 0, OneAndHalf = 1, Two = 2 };

// Lookup tables from index to value; an index outside a table gives no value, and Open fails.
std::optional<uint32_t> BaudRateFromIndex(uint8_t index);
std::optional<uint8_t> ByteSizeFromIndex(uint8_t index);
std::optional<Parity> ParityFromIndex(uint8_t index);
std::optional<StopBits> StopBitsFromIndex(uint8_t index);

}  // namespace k5
