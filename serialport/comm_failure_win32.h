#pragma once

#include <windows.h>

namespace k5 {

// How the device layer judges what the system says about an opened COM port. Kept apart so
// each rule can be checked without a device.

// Whether a handle of this file type is refused as a serial port. Only disks and pipes are:
// some USB-serial drivers report FILE_TYPE_UNKNOWN for a working port, and applying the
// line settings decides for everything else.
inline bool RefusedFileType(DWORD fileType) {
    return fileType == FILE_TYPE_DISK || fileType == FILE_TYPE_PIPE;
}

// ERROR_NO_SUCH_DEVICE, which the toolchain's headers lack.
inline constexpr DWORD kErrorNoSuchDevice = 433;

// Whether a read or write that failed with `ioError` means the device has gone (a USB
// adapter unplugged): the port no longer answers a status request, or the failure itself
// names a removed device. Anything else with the port still answering (a purge that
// aborted the transfer, a driver's passing refusal) is transient.
inline bool DeviceGone(DWORD ioError, bool portAnswers) {
    if (!portAnswers) {
        return true;
    }
    switch (ioError) {
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEV_NOT_EXIST:
        case kErrorNoSuchDevice:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_NOT_READY:
            return true;
        default:
            return false;
    }
}

}  // namespace k5
