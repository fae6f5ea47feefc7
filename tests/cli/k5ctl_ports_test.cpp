// k5ctl ports: what each COM number means on this machine, and what keeps a user out.
#include "cli/k5ctl_ports.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/child_process.h"
#include "tests/support/pty_peer.h"
#include "tests/support/scoped_env.h"

namespace k5::cli {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;

TEST(K5ctlPorts, ListingNamesDeviceSourceAndDescription) {
    std::vector<ComPortInfo> ports(3);
    ports[0] = {1, "/dev/ttyS0", "", ComPortSource::System, "16550A UART", true};
    ports[1] = {4,
                "/dev/serial/by-id/usb-FTDI_FT232R",
                "/dev/ttyUSB0",
                ComPortSource::Table,
                "FT232R USB UART",
                true};
    ports[2] = {7, "/dev/ttyUSB3", "", ComPortSource::Environment, "", false};
    const std::string text =
        FormatPortListing(ports, {{"/dev/ttyS0", "dialout"}}, "/home/t/.config/k5kit/ports.conf");
    EXPECT_EQ(text,
              "COM1  /dev/ttyS0                         UART         16550A UART\n"
              "COM4  /dev/serial/by-id/usb-FTDI_FT232R  port table   FT232R USB UART "
              "(/dev/ttyUSB0)\n"
              "COM7  /dev/ttyUSB3                       environment  not present\n"
              "You may not open /dev/ttyS0: add yourself to the 'dialout' group (sudo adduser "
              "$USER dialout) and log in again.\n"
              "Port table: /home/t/.config/k5kit/ports.conf\n");
    EXPECT_EQ(FormatPortListing({}, {}, ""), "No COM ports found.\n");
}

class PortsProgram : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "k5-ports-cfg-XXXXXX").string();
        config_ = ::mkdtemp(pattern.data());
        fs::permissions(config_, fs::perms(0755));
    }
    void TearDown() override { fs::remove_all(config_); }

    fs::path config_;
};

TEST_F(PortsProgram, EnvironmentMappingsAreListedWithWhatIsBehindThem) {
    test::PtyPeer pty;
    ScopedEnv xdg("XDG_CONFIG_HOME", config_.string());
    ScopedEnv sim("K5_COM6", pty.DevicePath());
    ScopedEnv null("K5_COM7", "/dev/null");
    const test::ChildOutcome r = test::RunProgram({K5CTL_PATH, "ports"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("COM6  " + pty.DevicePath()), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("environment  pseudo-terminal\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("COM7  /dev/null"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("environment  not present\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Port table: " + (config_ / "k5kit/ports.conf").string()),
              std::string::npos)
        << r.out;
}

TEST_F(PortsProgram, AUserWhoMayNotOpenAPortIsToldWhichGroupToJoin) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run k5ctl as nobody";
    }
    test::PtyPeer pty;
    ::chmod(pty.DevicePath().c_str(), 0660);
    struct stat info {};
    ASSERT_EQ(::stat(pty.DevicePath().c_str(), &info), 0);
    const group* owner = ::getgrgid(info.st_gid);
    ASSERT_NE(owner, nullptr);
    const std::string groupName = owner->gr_name;
    ScopedEnv xdg("XDG_CONFIG_HOME", config_.string());
    ScopedEnv sim("K5_COM6", pty.DevicePath());
    const test::ChildOutcome r =
        test::RunProgram({"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                          K5CTL_PATH, "ports"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(
        r.out.find("You may not open " + pty.DevicePath() + ": add yourself to the '" + groupName +
                   "' group (sudo adduser $USER " + groupName + ") and log in again.\n"),
        std::string::npos)
        << r.out << r.err;
}

}  // namespace
}  // namespace k5::cli
