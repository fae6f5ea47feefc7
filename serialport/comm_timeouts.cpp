#include "serialport/comm_timeouts.h"

namespace k5 {

CommTimeoutValues ToCommTimeouts(const SerialSettings& settings) {
    CommTimeoutValues t;
    t.readInterval = settings.readIntervalTimeoutMs;
    t.readTotalMultiplier = settings.readTotalTimeoutMultiplierMs;
    t.readTotalConstant = settings.readTotalTimeoutConstantMs;
    t.writeTotalMultiplier = settings.writeTotalTimeoutMultiplierMs;
    t.writeTotalConstant = settings.writeTotalTimeoutConstantMs;
    if (t.readTotalMultiplier == 0 && t.readTotalConstant == 0) {
        t.readInterval = kCommTimeoutMax;  // return at once with what has arrived
    } else if (t.readInterval == kCommTimeoutMax) {
        // MAXDWORD with a non-zero total asks for a different mode altogether (return as soon
        // as one byte is there); the record only knows "a gap this long", so take the longest
        // gap the device can express instead.
        t.readInterval = kCommTimeoutMax - 1;
    }
    if (t.writeTotalMultiplier == 0 && t.writeTotalConstant == 0) {
        t.writeTotalConstant = 1;
    }
    return t;
}

namespace {
uint64_t Total(uint32_t multiplier, uint32_t constant, uint64_t count) {
    return uint64_t{multiplier} * count + constant;  // at most 2^32 * 2^32: no overflow
}
}  // namespace

uint64_t ReadTotalMs(const CommTimeoutValues& timeouts, uint64_t count) {
    if (timeouts.readInterval == kCommTimeoutMax && timeouts.readTotalMultiplier == 0 &&
        timeouts.readTotalConstant == 0) {
        return 0;
    }
    return Total(timeouts.readTotalMultiplier, timeouts.readTotalConstant,
                 count > 0xFFFFFFFF ? 0xFFFFFFFF : count);
}

uint64_t WriteTotalMs(const CommTimeoutValues& timeouts, uint64_t count) {
    return Total(timeouts.writeTotalMultiplier, timeouts.writeTotalConstant,
                 count > 0xFFFFFFFF ? 0xFFFFFFFF : count);
}

}  // namespace k5
