// A port nobody else holds: other processes that have the device open (with or without
// flock), UUCP lock files live and stale, and nothing left on the device afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "devlink/serial_comm.h"
#include "serialport/serial_port_holders_posix.h"
#include "tests/support/child_process.h"
#include "tests/support/pty_peer.h"

namespace k5 {
namespace {

using test::ChildProcess;
using test::PtyPeer;

size_t OpenDescriptorCount() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++n;
    }
    return n;
}

// Starts `argv`, which prints a line once it holds what it should and then becomes (or
// stays) the program `name`; returns its pid once it runs under that name.
pid_t StartHolder(std::unique_ptr<ChildProcess>& child, std::vector<std::string> argv,
                  const std::string& name) {
    child = std::make_unique<ChildProcess>(std::move(argv));
    if (!child->WaitForOutput("\n")) {
        return -1;
    }
    for (int attempt = 0; attempt < 200 && ProcessName(child->Pid()) != name; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the exec is under way
    }
    return child->Pid();
}

std::string LockFilePath(const PtyPeer& peer) {
    return std::string(kUucpLockDirectory) + "/" + UucpLockName(peer.DevicePath());
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteLock(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

class PortInUse : public testing::Test {
protected:
    void SetUp() override {
        port.SetDevicePathOverride(peer.DevicePath());
        SerialSettings s;
        s.baudRateIndex = kBaudIndex115200;
        port.SetSettings(s);
    }
    void TearDown() override {
        port.Close();
        ::unlink(LockFilePath(peer).c_str());
    }

    // Nothing of an earlier Open is left: no exclusive flag, no lock file, no lock, no
    // descriptor.
    void ExpectNoTrace(size_t descriptorsBefore) {
        int exclusive = -1;
        ASSERT_EQ(::ioctl(peer.TerminalFd(), TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0) << "TIOCEXCL left set";
        EXPECT_FALSE(std::filesystem::exists(LockFilePath(peer)));
        EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore);
        const int probe = ::open(peer.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(probe, 0);
        EXPECT_EQ(::flock(probe, LOCK_EX | LOCK_NB), 0) << "flock left held";
        ::close(probe);
    }

    PtyPeer peer;  // the far end: holds the master and the slave, and is no holder
    CSerialComm port;
};

TEST_F(PortInUse, AProgramThatHasTheDeviceOpenIsRefusedByName) {
    const std::string path = peer.DevicePath();
    const struct {
        std::vector<std::string> argv;
        const char* name;
    } holders[] = {
        // No lock at all: a terminal program or getty that opened the device first.
        {{"/bin/sh", "-c", "exec 3<>" + path + "; echo held; exec sleep 30"}, "sleep"},
        // flock(1) holding the device's lock (and its descriptor) while its command runs.
        {{"/usr/bin/flock", "-o", path, "/bin/sh", "-c", "echo held; exec sleep 30"}, "flock"},
    };
    for (const auto& h : holders) {
        const size_t before = OpenDescriptorCount();
        std::unique_ptr<ChildProcess> child;
        const pid_t pid = StartHolder(child, h.argv, h.name);
        ASSERT_GT(pid, 0) << h.name;
        EXPECT_EQ(port.Open(), 0) << h.name;
        EXPECT_EQ(port.LastError(), PortError::InUse);
        EXPECT_EQ(port.LastErrorText(),
                  path + ": in use by " + h.name + " (pid " + std::to_string(pid) + ")");
        child.reset();  // killed and reaped
        ExpectNoTrace(before);
        EXPECT_EQ(port.Open(), 1) << h.name << ": " << port.LastErrorText();
        port.Close();
    }
}

TEST_F(PortInUse, CloseLeavesNoTraceAndTheLockFileLivesOnlyWhileOpen) {
    if (::access(kUucpLockDirectory, W_OK) != 0) {
        GTEST_SKIP() << kUucpLockDirectory << " is not writable here";
    }
    const size_t before = OpenDescriptorCount();
    ASSERT_EQ(port.Open(), 1) << port.LastErrorText();
    char expected[16];
    std::snprintf(expected, sizeof expected, "%10d\n", static_cast<int>(::getpid()));
    EXPECT_EQ(ReadAll(LockFilePath(peer)), expected);
    int exclusive = 0;
    ASSERT_EQ(::ioctl(peer.TerminalFd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    port.Close();
    ExpectNoTrace(before);
}

TEST_F(PortInUse, ALiveLockRefusesAStaleOneIsReplaced) {
    if (::access(kUucpLockDirectory, W_OK) != 0) {
        GTEST_SKIP() << kUucpLockDirectory << " is not writable here";
    }
    const std::string lock = LockFilePath(peer);
    std::unique_ptr<ChildProcess> child;
    const pid_t live =
        StartHolder(child, {"/bin/sh", "-c", "echo started; exec sleep 30"}, "sleep");
    ASSERT_GT(live, 0);
    char content[16];
    std::snprintf(content, sizeof content, "%10d\n", static_cast<int>(live));
    WriteLock(lock, content);
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.LastErrorText(),
              peer.DevicePath() + ": in use by sleep (pid " + std::to_string(live) + ")");
    EXPECT_EQ(ReadAll(lock), content) << "someone else's lock was touched";

    child.reset();  // now the lock's process is gone
    for (const std::string& stale : {std::string(content), std::string("garbage\n")}) {
        WriteLock(lock, stale);
        const size_t before = OpenDescriptorCount();
        ASSERT_EQ(port.Open(), 1) << port.LastErrorText();
        EXPECT_NE(ReadAll(lock), stale);
        port.Close();
        ExpectNoTrace(before);
    }
}

TEST_F(PortInUse, TwoRecordsInOneProgramStillExcludeEachOther) {
    ASSERT_EQ(port.Open(), 1) << port.LastErrorText();
    CSerialComm second;
    second.SetDevicePathOverride(peer.DevicePath());
    SelectAmplifierBaudRate(second);
    EXPECT_EQ(second.Open(), 0);
    EXPECT_EQ(second.LastError(), PortError::InUse);
    EXPECT_NE(second.LastErrorText().find("(pid " + std::to_string(::getpid()) + ")"),
              std::string::npos)
        << second.LastErrorText();
}

TEST(DeviceHolders, TheFarEndOfAPseudoTerminalIsNoHolder) {
    PtyPeer peer;  // this process holds the master and the slave
    struct stat info {};
    ASSERT_EQ(::stat(peer.DevicePath().c_str(), &info), 0);
    EXPECT_TRUE(FindDeviceHolders(info.st_rdev, -1).holders.empty());
    // Asked by the far end itself, its own descriptors on the slave count.
    const auto own = FindDeviceHolders(info.st_rdev, -1, true).holders;
    ASSERT_EQ(own.size(), 1u);
    EXPECT_EQ(own[0].pid, ::getpid());
    EXPECT_TRUE(FindDeviceHolders(info.st_rdev, peer.TerminalFd(), true).holders.empty());
}

}  // namespace
}  // namespace k5
