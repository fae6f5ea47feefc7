#include <windows.h>

#include "devlink/com_port.h"

namespace k5 {

std::string ComPortDevicePath(unsigned portNumber) {
    if (portNumber == 0) {
        return {};  // there is no COM0
    }
    // The device namespace form: plain "COM10" and above name no device.
    return "\\\\.\\COM" + std::to_string(portNumber);
}

int PortExists(unsigned portNumber) {
    if (portNumber == 0) {
        return 0;
    }
    const std::string name = "COM" + std::to_string(portNumber);
    COMMCONFIG config{};
    DWORD size = sizeof(config);
    return GetDefaultCommConfigA(name.c_str(), &config, &size) ? 1 : 0;
}

}  // namespace k5
