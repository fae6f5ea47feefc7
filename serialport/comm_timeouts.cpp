#include "serialport/comm_timeouts.h"

namespace k5 {

namespace {

std::chrono::milliseconds Ms(uint32_t ms) {
    return std::chrono::milliseconds(ms);
}

TotalTimeout Total(uint32_t multiplierMs, uint32_t constantMs) {
    return {Ms(multiplierMs), Ms(constantMs)};
}

}  // namespace

std::chrono::milliseconds TotalTimeout::For(uint64_t count) const {
    if (!Used()) {
        return kNoTimeout;
    }
    const uint64_t perByteMs = static_cast<uint64_t>(perByte.count());
    const uint64_t constantMs = static_cast<uint64_t>(constant.count());
    const uint64_t most = static_cast<uint64_t>(kNoTimeout.count());
    if (constantMs >= most || (perByteMs != 0 && count > (most - constantMs) / perByteMs)) {
        return kNoTimeout;
    }
    return std::chrono::milliseconds(perByteMs * count + constantMs);
}

ReadWaits ReadWaitsFor(const SerialSettings& s) {
    const uint32_t interval = s.readIntervalTimeoutMs;
    const uint32_t multiplier = s.readTotalTimeoutMultiplierMs;
    const uint32_t constant = s.readTotalTimeoutConstantMs;
    ReadWaits waits;
    ReadTimeouts& t = waits.timeouts;
    if (interval != kMaxDword) {
        if (interval != 0) {
            t.interval = Ms(interval);
        }
        if (multiplier != 0 || constant != 0) {
            t.total = Total(multiplier, constant);
        }
        return waits;
    }
    if (multiplier == 0 && constant == 0) {
        waits.takeWaitingFirst = true;
        t.total = kNoWait;
    } else if (constant != kMaxDword && multiplier == kMaxDword) {
        // Wait for the first bytes: an interval of 0 ends the read once some are in.
        waits.takeWaitingFirst = true;
        t.interval = Ms(0);
        t.total = Total(0, constant);
    } else if (constant != kMaxDword) {
        waits.takeWaitingFirst = true;
        t.total = Total(multiplier, constant);
    }
    // A constant of MAXDWORD with an interval of MAXDWORD sets no timer at all.
    return waits;
}

TotalTimeout WriteTimeoutFor(const SerialSettings& s) {
    if (s.writeTotalTimeoutMultiplierMs == 0 && s.writeTotalTimeoutConstantMs == 0) {
        return {};
    }
    return Total(s.writeTotalTimeoutMultiplierMs, s.writeTotalTimeoutConstantMs);
}

}  // namespace k5
