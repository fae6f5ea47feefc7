#include "serialport/comm_timeouts_win32.h"

namespace k5 {

namespace {

// `ms` as a time-out field, at most `most` (a longer wait is the longest the field holds).
DWORD Field(std::chrono::milliseconds ms, DWORD most) {
    if (ms.count() <= 0) {
        return 0;
    }
    return ms.count() >= static_cast<long long>(most) ? most : static_cast<DWORD>(ms.count());
}

}  // namespace

COMMTIMEOUTS WithReadTimeouts(COMMTIMEOUTS device, const ReadTimeouts& read, DWORD count) {
    const std::chrono::milliseconds total = read.total.For(count);
    if (total.count() == 0) {
        device.ReadIntervalTimeout = MAXDWORD;
        device.ReadTotalTimeoutMultiplier = 0;
        device.ReadTotalTimeoutConstant = 0;
    } else if (read.interval.count() == 0) {
        device.ReadIntervalTimeout = MAXDWORD;
        device.ReadTotalTimeoutMultiplier = MAXDWORD;
        device.ReadTotalTimeoutConstant = Field(total, MAXDWORD - 1);
    } else {
        // MAXDWORD as the interval would switch the device into one of those modes: a gap
        // that long is the longest it can express otherwise. An interval field of 0 is none.
        device.ReadIntervalTimeout =
            read.interval == kNoTimeout ? 0 : Field(read.interval, MAXDWORD - 1);
        device.ReadTotalTimeoutMultiplier =
            read.total.Used() ? Field(read.total.perByte, MAXDWORD) : 0;
        device.ReadTotalTimeoutConstant =
            read.total.Used() ? Field(read.total.constant, MAXDWORD) : 0;
    }
    return device;
}

COMMTIMEOUTS WithWriteTimeout(COMMTIMEOUTS device, const TotalTimeout& write, DWORD count) {
    device.WriteTotalTimeoutMultiplier = write.Used() ? Field(write.perByte, MAXDWORD) : 0;
    device.WriteTotalTimeoutConstant = write.Used() ? Field(write.constant, MAXDWORD) : 0;
    if (write.Used() && write.For(count).count() == 0) {
        device.WriteTotalTimeoutConstant = 1;  // 0 + 0 is no limit to the device: the shortest
    }
    return device;
}

bool SameTimeouts(const COMMTIMEOUTS& a, const COMMTIMEOUTS& b) {
    return a.ReadIntervalTimeout == b.ReadIntervalTimeout &&
           a.ReadTotalTimeoutMultiplier == b.ReadTotalTimeoutMultiplier &&
           a.ReadTotalTimeoutConstant == b.ReadTotalTimeoutConstant &&
           a.WriteTotalTimeoutMultiplier == b.WriteTotalTimeoutMultiplier &&
           a.WriteTotalTimeoutConstant == b.WriteTotalTimeoutConstant;
}

}  // namespace k5
