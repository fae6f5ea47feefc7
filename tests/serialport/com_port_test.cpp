#include "serialport/com_port.h"

#include <gtest/gtest.h>

#include "devlink/serial_comm.h"
#include "tests/support/pty_peer.h"
#include "tests/support/scoped_env.h"

namespace k5 {
namespace {

using test::ScopedEnv;

TEST(ComPortMapping, EnvironmentNamesTheDeviceBeforeAnythingElse) {
    ScopedEnv config("XDG_CONFIG_HOME", "/nonexistent/k5-config");
    ScopedEnv unset("K5_COM4", "");
    EXPECT_NE(ComPortDevicePath(4), "/dev/ttyUSB7");
    EXPECT_EQ(ComPortDevicePath(0), "");
    ScopedEnv env("K5_COM4", "/dev/ttyUSB7");
    EXPECT_EQ(ComPortDevicePath(4), "/dev/ttyUSB7");
    EXPECT_NE(ComPortDevicePath(14), "/dev/ttyUSB7") << "K5_COM4 must not match COM14";
    EXPECT_EQ(DescribeComPort(4).source, ComPortSource::Environment);
}

TEST(ComPortMapping, PortExistsOnlyForSerialDevices) {
    test::PtyPeer pty;
    ScopedEnv present("K5_COM9", pty.DevicePath());
    EXPECT_NE(PortExists(9), 0);
    ScopedEnv regularFile("K5_COM10", "/etc/hostname");
    EXPECT_EQ(PortExists(10), 0);
    ScopedEnv null("K5_COM11", "/dev/null");
    EXPECT_EQ(PortExists(11), 0) << "a character device, but no serial port";
    EXPECT_EQ(PortExists(0), 0);
}

TEST(ComPortMapping, MappingToAMissingPathNeverFallsBackToAnotherDevice) {
    ScopedEnv missing("K5_COM3", "/nonexistent/k5-port");
    EXPECT_EQ(PortExists(3), 0);
    CSerialComm port(3);
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.LastError(), PortError::NotFound);
    EXPECT_NE(port.LastErrorText().find("/nonexistent/k5-port"), std::string::npos);
}

}  // namespace
}  // namespace k5
