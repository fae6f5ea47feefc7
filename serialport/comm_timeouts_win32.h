#pragma once

#include <windows.h>

#include "serialport/comm_timeouts.h"

namespace k5 {

// The waits of comm_timeouts.h as the device's time-out record. Each call changes only its
// own direction's fields of `device` and keeps the other's.

// For one read of `count` bytes (count > 0). A total of 0 is "return at once with what is
// there" and an interval of 0 "the first bytes to arrive": the device's two MAXDWORD modes.
COMMTIMEOUTS WithReadTimeouts(COMMTIMEOUTS device, const ReadTimeouts& read, DWORD count);

// For one write of `count` bytes (count > 0). No total time-out is the device's 0 + 0.
COMMTIMEOUTS WithWriteTimeout(COMMTIMEOUTS device, const TotalTimeout& write, DWORD count);

bool SameTimeouts(const COMMTIMEOUTS& a, const COMMTIMEOUTS& b);

}  // namespace k5
