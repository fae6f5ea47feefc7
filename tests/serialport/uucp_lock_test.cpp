// UUCP lock files in a folder every user may write: what someone planted there neither hangs
// an opener, nor is written through, nor locks the technician out, and openers racing on one
// stale lock leave exactly one lock, naming the one that holds the port. A temporary folder
// stands for /run/lock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>

#include "serialport/serial_port_holders_posix.h"

namespace k5 {
namespace {

using namespace std::chrono_literals;
using Plant = std::function<void(const std::string&)>;

std::string Hdb(pid_t pid) {
    char content[16];
    std::snprintf(content, sizeof content, "%10d\n", static_cast<int>(pid));
    return content;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

class LockFolder : public testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/k5-uucp-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir = name;
        lock = Path(UucpLockName(device));
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string Path(const std::string& name) const { return dir + "/" + name; }

    std::string dir;
    const std::string device = "/dev/ttyK5TEST";  // only names the lock; never opened
    std::string lock;
};

TEST_F(LockFolder, WhatAnotherUserPlantedNeitherHangsNorIsWrittenThroughNorLocksOut) {
    const bool root = ::geteuid() == 0;
    const std::string target = Path("precious");
    // The name the temporary lock once had.
    ASSERT_EQ(::symlink(target.c_str(), Path("LTMP." + std::to_string(::getpid())).c_str()), 0);
    const struct {
        const char* what;
        bool needsRoot;
        Plant plant;
        pid_t heldBy;  // 0: the lock is ours
    } rows[] = {
        {"a FIFO", false, [](const std::string& p) { ::mkfifo(p.c_str(), 0644); }, 0},
        {"a link", false, [&](const std::string& p) { (void)::symlink(target.c_str(), p.c_str()); },
         0},
        {"an oversized lock", false, [](auto& p) { WriteFile(p, Hdb(1) + std::string(99, ' ')); },
         0},
        {"a lock of another user naming pid 1", true,
         [](const std::string& p) {
             WriteFile(p, Hdb(1));
             (void)::chown(p.c_str(), 65534, 65534);
         },
         0},
        {"root's lock naming pid 1", true, [](const std::string& p) { WriteFile(p, Hdb(1)); }, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.needsRoot && !root) {
            continue;
        }
        WriteFile(target, Hdb(1));
        row.plant(lock);
        std::string lockFile;
        DeviceHolder holder;
        auto acquire = std::async(std::launch::async,
                                  [&] { return AcquireUucpLock(dir, device, lockFile, holder); });
        if (acquire.wait_for(5s) != std::future_status::ready) {
            ADD_FAILURE() << "hung on it";
            ::close(::open(lock.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));  // frees it
        }
        EXPECT_EQ(acquire.get(), row.heldBy == 0);
        EXPECT_EQ(ReadAll(target), Hdb(1)) << "written through";
        EXPECT_EQ(holder.pid, row.heldBy);
        EXPECT_EQ(ReadAll(lock), row.heldBy == 0 ? Hdb(::getpid()) : Hdb(row.heldBy));
        ReleaseUucpLock(lockFile);
        ::unlink(lock.c_str());
    }
    // Nothing of ours is left behind: only the link and its target remain.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 2);
}

TEST_F(LockFolder, OnceThePortIsOursTheLockIsPutBackUnlessALiveOneTookItsPlace) {
    const struct {
        const char* what;
        Plant replace;
        pid_t heldBy;  // 0: ours again
    } rows[] = {
        {"removed by a loser's clean-up", [](const std::string&) {}, 0},
        {"replaced by a live one", [](const std::string& p) { WriteFile(p, Hdb(1)); }, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::string lockFile;
        DeviceHolder holder;
        ASSERT_TRUE(AcquireUucpLock(dir, device, lockFile, holder));
        ::unlink(lock.c_str());
        row.replace(lock);
        EXPECT_EQ(KeepUucpLock(lockFile, holder), row.heldBy == 0);
        EXPECT_EQ(holder.pid, row.heldBy);
        EXPECT_EQ(ReadAll(lock), row.heldBy == 0 ? Hdb(::getpid()) : Hdb(row.heldBy));
        ReleaseUucpLock(lockFile);
        ::unlink(lock.c_str());
    }
}

TEST_F(LockFolder, OpenersRacingOnOneStaleLockLeaveOneLockNamingTheHolder) {
    const std::string port = Path("ttyRACE");  // a plain file: flock is all the openers need
    WriteFile(port, "");
    const pid_t gone = ::fork();  // a pid whose process has ended
    if (gone == 0) {
        ::_exit(0);
    }
    ASSERT_GT(gone, 0);
    ::waitpid(gone, nullptr, 0);
    const std::string portLock = Path(UucpLockName(port));

    struct Verdict {
        bool holds;
        pid_t pid;
    };
    for (int round = 0; round < 300; ++round) {
        WriteFile(portLock, Hdb(gone));
        int go[2], report[2];
        ASSERT_EQ(::pipe(go) | ::pipe(report), 0);
        pid_t openers[4];
        for (pid_t& opener : openers) {
            opener = ::fork();
            if (opener == 0) {  // the order of the port's Open: lock, flock, lock again
                ::close(go[1]);
                char c = 0;
                (void)::read(go[0], &c, 1);
                std::string lockFile;
                DeviceHolder holder;
                Verdict v{false, ::getpid()};
                if (AcquireUucpLock(dir, port, lockFile, holder)) {
                    const int fd = ::open(port.c_str(), O_RDWR | O_CLOEXEC);
                    v.holds = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && KeepUucpLock(lockFile, holder);
                    if (!v.holds) {
                        ReleaseUucpLock(lockFile);
                    }
                }
                (void)::write(report[1], &v, sizeof v);
                ::pause();  // holding what it holds
                ::_exit(0);
            }
        }
        ::close(report[1]);
        ::close(go[1]);  // all start at once
        int holding = 0;
        pid_t holder = 0;
        Verdict v{};
        for (size_t n = 0; n < std::size(openers) && ::read(report[0], &v, sizeof v) == sizeof v;
             ++n) {
            holding += v.holds;
            holder = v.holds ? v.pid : holder;
        }
        const UucpLock left = ReadUucpLock(portLock);
        for (const pid_t opener : openers) {
            if (opener > 0) {
                ::kill(opener, SIGKILL);
                ::waitpid(opener, nullptr, 0);
            }
        }
        ::close(go[0]);
        ::close(report[0]);
        ASSERT_TRUE(
            std::all_of(std::begin(openers), std::end(openers), [](pid_t p) { return p > 0; }));
        ASSERT_EQ(holding, 1) << "round " << round;
        ASSERT_EQ(left.status, UucpLock::Status::Live) << "round " << round;
        ASSERT_EQ(left.pid, holder) << "round " << round;
    }
}

}  // namespace
}  // namespace k5
