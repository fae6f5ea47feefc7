#include "serialport/com_port.h"
#include "serialport/com_port_system.h"

namespace k5 {

namespace {

ComPortSystem ThisSystem() {
    return ComPortSystem("/", ComPortSystem::DefaultConfigDir());
}

}  // namespace

std::string ComPortDevicePath(unsigned portNumber) {
    return ThisSystem().Describe(portNumber).devicePath;
}

int PortExists(unsigned portNumber) {
    return ThisSystem().Describe(portNumber).exists ? 1 : 0;
}

ComPortInfo DescribeComPort(unsigned portNumber) {
    return ThisSystem().Describe(portNumber);
}

std::vector<ComPortInfo> ListComPorts() {
    return ThisSystem().List();
}

}  // namespace k5
