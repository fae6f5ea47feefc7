#pragma once

#include <cstdint>

#include "serialport/serial_settings.h"

namespace k5 {

// The five time-outs of a Windows communications device, in the order of its time-out
// record (the settings record keeps the write constant before the write multiplier).
struct CommTimeoutValues {
    uint32_t readInterval = 0;
    uint32_t readTotalMultiplier = 0;
    uint32_t readTotalConstant = 0;
    uint32_t writeTotalMultiplier = 0;
    uint32_t writeTotalConstant = 0;

    friend bool operator==(const CommTimeoutValues&, const CommTimeoutValues&) = default;
};

inline constexpr uint32_t kCommTimeoutMax = 0xFFFFFFFF;  // the device's MAXDWORD

// The time-outs to give the device so that reads and writes keep the port record's meaning.
// The settings in use pass through unchanged (20 / 1 / 30 / 1 / 30). Windows reads a total
// read time-out of 0 + 0 as "wait for ever" and a total write time-out of 0 + 0 as "no limit",
// where the record means "do not wait": a read then returns at once with whatever has
// arrived (interval MAXDWORD, totals 0) and a write gets the shortest limit there is, 1 ms.
CommTimeoutValues ToCommTimeouts(const SerialSettings& settings);

// The total time the device allows a read of `count` bytes, or a write of `count` bytes,
// under `timeouts` (saturating); 0 means the read returns at once.
uint64_t ReadTotalMs(const CommTimeoutValues& timeouts, uint64_t count);
uint64_t WriteTotalMs(const CommTimeoutValues& timeouts, uint64_t count);

}  // namespace k5
