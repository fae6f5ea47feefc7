#include "serialport/serial_port.h"

namespace k5 {

void SerialPort::Fail(PortError error, std::string text) {
    lastError_ = error;
    lastErrorText_ = std::move(text);
}

void SerialPort::MarkHungUp() {
    if (!hungUp_) {
        hungUp_ = true;
        Fail(PortError::HungUp, "the line hung up");
    }
}

const char* Describe(PortError error) {
    switch (error) {
        case PortError::None:
            return "no error";
        case PortError::NotFound:
            return "no such device";
        case PortError::InUse:
            return "in use";
        case PortError::PermissionDenied:
            return "permission denied";
        case PortError::NotSerialDevice:
            return "not a serial device";
        case PortError::UnsupportedSetting:
            return "setting not supported";
        case PortError::SettingsNotApplied:
            return "line settings not applied";
        case PortError::HungUp:
            return "line hung up";
        case PortError::Other:
            return "other error";
    }
    return "unknown";
}

}  // namespace k5
