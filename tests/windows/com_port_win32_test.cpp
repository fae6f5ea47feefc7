#include <gtest/gtest.h>

#include "serialport/com_port.h"
#include "devlink/serial_comm.h"

namespace k5 {
namespace {

TEST(ComPortMappingWin32, PortsUseTheDeviceNamespaceSoThatCom10AndAboveOpen) {
    EXPECT_EQ(ComPortDevicePath(1), "\\\\.\\COM1");
    EXPECT_EQ(ComPortDevicePath(10), "\\\\.\\COM10");
    EXPECT_EQ(ComPortDevicePath(255), "\\\\.\\COM255");
    EXPECT_EQ(ComPortDevicePath(0), "");
    EXPECT_EQ(PortExists(0), 0);
}

}  // namespace
}  // namespace k5
