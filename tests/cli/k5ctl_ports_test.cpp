// k5ctl ports: what each COM number means on this machine, and what keeps a user out.
#include "cli/k5ctl_ports.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <thread>

#include "serialport/device_access_posix.h"
#include "serialport/serial_port_holders_posix.h"
#include "sim/simulator.h"
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
    const std::string text = FormatPortListing(
        ports, {{"/dev/ttyS0", PermissionAdvice({0, 20, 020660, "root", "dialout"})}},
        "/home/t/.config/k5kit/ports.conf");
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
    // A serial port as Debian's udev rules leave it.
    const group* dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    ASSERT_EQ(::chown(pty.DevicePath().c_str(), 0, dialout->gr_gid), 0);
    ::chmod(pty.DevicePath().c_str(), 0660);
    const std::string groupName = dialout->gr_name;
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

// The listing and the open error give one advice: a group only when joining it helps, never
// the root group, and otherwise who owns the device and how.
TEST(DeviceAccessAdvice, NamesAGroupOnlyWhenJoiningItHelps) {
    const std::string join =
        "add yourself to the 'dialout' group (sudo adduser $USER dialout) and log in again";
    const struct {
        DeviceAccess access;
        std::string advice;
    } cases[] = {
        {{0, 20, 020660, "root", "dialout"}, join},
        {{0, 20, 020620, "root", "dialout"},
         "it belongs to root:dialout with mode 0620, so no group gives access to it; ask the "
         "administrator for access"},
        {{0, 0, 020600, "root", "root"},
         "it belongs to root:root with mode 0600, so no group gives access to it; ask the "
         "administrator for access"},
        {{0, 0, 020660, "root", "root"},
         "it belongs to root:root with mode 0660, so no group gives access to it; ask the "
         "administrator for access"},
        {{1000, 4321, 020660, "", ""},
         "it belongs to 1000:4321 with mode 0660, so no group gives access to it; ask the "
         "administrator for access"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PermissionAdvice(c.access), c.advice) << std::oct << c.access.mode;
    }
}

TEST_F(PortsProgram, TheListingAndTheOpenErrorAgreeOnADeviceNoGroupMayOpen) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run k5ctl as nobody";
    }
    test::PtyPeer pty;
    ::chmod(pty.DevicePath().c_str(), 0600);
    const auto access = ReadDeviceAccess(pty.DevicePath());
    ASSERT_TRUE(access);
    const std::string advice = PermissionAdvice(*access);
    ScopedEnv xdg("XDG_CONFIG_HOME", config_.string());
    ScopedEnv sim("K5_COM6", pty.DevicePath());
    const std::vector<std::string> nobody = {"/usr/bin/setpriv", "--reuid=nobody",
                                             "--regid=nogroup", "--clear-groups", K5CTL_PATH};
    std::vector<std::string> listing = nobody;
    listing.push_back("ports");
    const test::ChildOutcome ports = test::RunProgram(listing);
    EXPECT_NE(ports.out.find("You may not open " + pty.DevicePath() + ": " + advice + ".\n"),
              std::string::npos)
        << ports.out;
    std::vector<std::string> open = nobody;
    open.insert(open.end(), {"--port", "6", "link-test"});
    const test::ChildOutcome linkTest = test::RunProgram(open);
    EXPECT_EQ(linkTest.exitStatus, 20);
    EXPECT_EQ(linkTest.err,
              "Port error: " + pty.DevicePath() + ": permission denied (" + advice + ")\n");
}

// --- A port nobody else holds ----------------------------------------------------------------

std::vector<std::string> AsNobody(std::vector<std::string> argv) {
    argv.insert(argv.begin(),
                {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
    return argv;
}

TEST(K5ctlPortUse, AProgramHoldingTheSimulatorsTerminalIsNamedAndTheExitIs20) {
    auto sim = sim::Simulator::Start({});
    ASSERT_TRUE(sim);
    ScopedEnv com1("K5_COM1", sim->DevicePath());
    test::ChildProcess holder(
        {"/bin/sh", "-c", "exec 3<>" + sim->DevicePath() + "; echo held; exec sleep 30"});
    ASSERT_TRUE(holder.WaitForOutput("\n"));
    for (int attempt = 0; attempt < 200 && ProcessName(holder.Pid()) != "sleep"; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const test::ChildOutcome r = test::RunProgram({K5CTL_PATH, "--port", "1", "link-test"});
    EXPECT_EQ(r.exitStatus, 20);
    EXPECT_EQ(r.err, "Port error: " + sim->DevicePath() + ": in use by sleep (pid " +
                         std::to_string(holder.Pid()) + ")\n");
    EXPECT_EQ(r.out, "");
}

TEST(K5ctlPortUse, AKilledClientDoesNotLockTheNextUserOut) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the next client as nobody";
    }
    auto sim = sim::Simulator::Start({.left = 760, .right = 760});
    ASSERT_TRUE(sim);
    ::chmod(sim->DevicePath().c_str(), 0666);  // as a user's own terminal would be
    {
        // A long configuration run, killed while it holds the port (TIOCEXCL set, UUCP lock
        // written, flock held).
        test::ChildProcess client(
            {K5CTL_PATH, "--device", sim->DevicePath(), "configure", "--time-scale", "20"});
        ASSERT_TRUE(client.WaitForOutput("\n"));
        client.Signal(SIGKILL);
        EXPECT_EQ(client.Finish().exitStatus, 1000 + SIGKILL);
    }
    // The simulator notices the client's last close on its own; give it a moment, and a
    // long one on a machine busy with other builds.
    test::ChildOutcome next;
    for (int attempt = 0; attempt < 200; ++attempt) {
        next = test::RunProgram(AsNobody({K5CTL_PATH, "--device", sim->DevicePath(), "link-test"}));
        if (next.exitStatus == 0) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(next.exitStatus, 0) << next.err;
    EXPECT_EQ(next.out, "Link OK\n");
    // The killed client's lock file is stale; nobody may not remove root's file, so it stays
    // until root opens the device again. Remove it here.
    ::unlink((std::string(kUucpLockDirectory) + "/" + UucpLockName(sim->DevicePath())).c_str());
}

}  // namespace
}  // namespace k5::cli
