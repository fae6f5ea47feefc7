#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "serialport/com_port.h"

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
    // The device's name in the object namespace, present only while its device is: stored
    // configuration would also answer for adapters that are unplugged, and slowly.
    const std::string name = "COM" + std::to_string(portNumber);
    char target[1024];
    if (QueryDosDeviceA(name.c_str(), target, sizeof(target)) != 0) {
        return 1;
    }
    // A name whose target does not fit the buffer still exists.
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? 1 : 0;
}

namespace {

// The system's own list of the serial ports present, as the device manager keeps it: one
// value per port, named after the driver's device ("\\Device\\Serial0"), whose data is
// the port's name ("COM1").
std::vector<ComPortInfo> ReadSerialCommMap() {
    std::vector<ComPortInfo> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return ports;
    }
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameSize = sizeof(name);
        BYTE data[64];
        DWORD dataSize = sizeof(data) - 1;
        DWORD type = 0;
        const LONG status =
            RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        data[dataSize] = 0;
        const std::string_view port(reinterpret_cast<const char*>(data));
        if (port.size() < 4 || port.substr(0, 3) != "COM") {
            continue;
        }
        const unsigned long number = std::strtoul(std::string(port.substr(3)).c_str(), nullptr, 10);
        if (number == 0 || number > 255) {
            continue;
        }
        ComPortInfo info = DescribeComPort(static_cast<unsigned>(number));
        info.node = name;
        ports.push_back(std::move(info));
    }
    RegCloseKey(key);
    return ports;
}

}  // namespace

// Windows numbers its ports itself and keeps an adapter's number: the kit only reports them.
ComPortInfo DescribeComPort(unsigned portNumber) {
    ComPortInfo info;
    info.number = portNumber;
    info.devicePath = ComPortDevicePath(portNumber);
    info.source = info.devicePath.empty() ? ComPortSource::None : ComPortSource::System;
    info.exists = PortExists(portNumber) != 0;
    return info;
}

std::vector<ComPortInfo> ListComPorts() {
    std::vector<ComPortInfo> ports = ReadSerialCommMap();
    std::sort(ports.begin(), ports.end(),
              [](const ComPortInfo& a, const ComPortInfo& b) { return a.number < b.number; });
    return ports;
}

}  // namespace k5
