// Who else has a serial device: /proc/*/fd, and the UUCP lock files of terminal programs.
#include "serialport/serial_port_holders_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>

#include "platform/unique_fd_posix.h"
#include "serialport/bounded_file_posix.h"

namespace k5 {

namespace {

std::optional<long> ParseNumber(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data()) {
        return std::nullopt;
    }
    return value;
}

// The pseudo-terminal index a /dev/ptmx descriptor is the master of ("tty-index" in its
// fdinfo), if it is one.
std::optional<long> MasterIndex(const std::string& pidDir, const char* fd) {
    std::ifstream info(pidDir + "/fdinfo/" + fd);
    std::string line;
    while (std::getline(info, line)) {
        if (line.rfind("tty-index:", 0) == 0) {
            return ParseNumber(std::string_view(line).substr(10));
        }
    }
    return std::nullopt;
}

bool IsPtySlave(dev_t rdev) {
    return major(rdev) >= 136 && major(rdev) <= 143;
}

long PtyIndex(dev_t rdev) {
    return static_cast<long>((major(rdev) - 136) * 256 + minor(rdev));
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

}  // namespace

std::string ProcessName(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? "another program" : name;
}

std::string DescribeHolder(const DeviceHolder& holder) {
    return holder.name + " (pid " + std::to_string(holder.pid) + ")";
}

DeviceHolders FindDeviceHolders(dev_t rdev, int ownFd, bool countOwnProcess) {
    DeviceHolders found;
    const pid_t self = ::getpid();
    const bool ptySlave = IsPtySlave(rdev);
    Dir proc(::opendir("/proc"));
    if (!proc) {
        found.complete = false;
        return found;
    }
    while (const dirent* process = ::readdir(proc.get())) {
        const auto pid = ParseNumber(process->d_name);
        if (!pid || *pid <= 0) {
            continue;
        }
        const std::string pidDir = std::string("/proc/") + process->d_name;
        Dir fds(::opendir((pidDir + "/fd").c_str()));
        if (!fds) {
            if (errno == EACCES || errno == EPERM) {
                found.complete = false;
            }
            continue;  // or the process ended meanwhile
        }
        bool holdsDevice = false;
        bool holdsMaster = false;
        while (const dirent* fd = ::readdir(fds.get())) {
            if (fd->d_name[0] == '.') {
                continue;
            }
            // Only a device can be the port; statting anything else could wait for ever
            // on a file system whose server is gone.
            char target[16];
            const ssize_t length =
                ::readlinkat(::dirfd(fds.get()), fd->d_name, target, sizeof target);
            if (length < 5 || std::string_view(target, 5) != "/dev/") {
                continue;
            }
            struct stat info {};
            if (::fstatat(::dirfd(fds.get()), fd->d_name, &info, 0) != 0 ||
                !S_ISCHR(info.st_mode)) {
                continue;
            }
            if (info.st_rdev == rdev) {
                const bool ours = *pid == self && ParseNumber(fd->d_name) == ownFd;
                holdsDevice = holdsDevice || !ours;
            } else if (ptySlave && major(info.st_rdev) == 5 && minor(info.st_rdev) == 2 &&
                       MasterIndex(pidDir, fd->d_name) == PtyIndex(rdev)) {
                holdsMaster = true;
            }
        }
        if (holdsDevice && (!holdsMaster || (countOwnProcess && *pid == self))) {
            const pid_t holder = static_cast<pid_t>(*pid);
            found.holders.push_back({holder, ProcessName(holder)});
        }
    }
    std::sort(found.holders.begin(), found.holders.end(),
              [](const DeviceHolder& a, const DeviceHolder& b) { return a.pid < b.pid; });
    return found;
}

std::string UucpLockName(const std::string& devicePath) {
    std::string name = devicePath.rfind("/dev/", 0) == 0
                           ? devicePath.substr(5)
                           : devicePath.substr(devicePath.find_last_of('/') + 1);
    std::replace(name.begin(), name.end(), '/', '_');
    return "LCK.." + name;
}

namespace {

// Everyone may create files in the lock folder, so a lock names a live holder only when its
// owner could have written it for that process: root, or the process's own user.
bool MayHaveWritten(uid_t owner, pid_t pid) {
    if (owner == 0) {
        return true;
    }
    struct stat process {};
    const std::string dir = "/proc/" + std::to_string(pid);
    if (::stat(dir.c_str(), &process) == 0 && process.st_uid == owner) {
        return true;
    }
    // /proc/<pid> belongs to root while a process is not dumpable; its real user still counts.
    std::ifstream status(dir + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Uid:", 0) == 0) {
            return ParseNumber(std::string_view(line).substr(4)) == static_cast<long>(owner);
        }
    }
    return false;
}

bool ProcessExists(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

bool IsOurs(const UucpLock& lock) {
    return (lock.status == UucpLock::Status::Live || lock.status == UucpLock::Status::Stale) &&
           lock.pid == ::getpid() && lock.owner == ::geteuid();
}

// An flock on the lock folder itself, so that between openers of this kit only one at a time
// removes a lock and links its own. Anyone may hold it, so the wait is short; without it
// nothing is removed.
class LockFolderGuard {
public:
    explicit LockFolderGuard(const std::string& directory)
        : folder_(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW)) {}

    bool Lock() {
        if (locked_ || !folder_) {
            return locked_;
        }
        constexpr int kTries = 250;  // 2 ms apart: half a second in all
        for (int attempt = 0; attempt < kTries && !locked_; ++attempt) {
            if (::flock(folder_.Get(), LOCK_EX | LOCK_NB) == 0) {
                locked_ = true;
            } else if (errno == EWOULDBLOCK || errno == EINTR) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            } else {
                break;
            }
        }
        return locked_;
    }
    bool Locked() const { return locked_; }

private:
    UniqueFd folder_;  // closing it releases the lock
    bool locked_ = false;
};

// This process's lock in the HDB format (its pid as ten right-aligned digits and a newline),
// written to a fresh private name in the folder first, so that it can be linked into place
// whole; empty when the folder cannot take it.
std::string WriteTemporaryLock(const std::string& directory) {
    std::string name = directory + "/LTMP.XXXXXX";
    UniqueFd file(::mkostemp(name.data(), O_CLOEXEC | O_NOFOLLOW));
    if (!file) {
        return {};
    }
    char content[16];
    const int length =
        std::snprintf(content, sizeof content, "%10d\n", static_cast<int>(::getpid()));
    int done = 0;
    bool ok = ::fchmod(file.Get(), 0644) == 0;  // terminal programs of every user read it
    while (ok && done < length) {
        const ssize_t n = ::write(file.Get(), content + done, static_cast<size_t>(length - done));
        if (n > 0) {
            done += static_cast<int>(n);
        } else if (n == 0 || errno != EINTR) {
            ok = false;  // a full disk: no half-written lock is ever linked
        }
    }
    ok = ::close(file.Release()) == 0 && ok;  // a late write error shows here
    if (!ok) {
        ::unlink(name.c_str());
        return {};
    }
    return name;
}

enum class Claim { Ours, Held, None };

// Links this process's lock to `lockPath`, replacing a stale or unreadable one.
Claim ClaimLock(const std::string& directory, const std::string& lockPath, DeviceHolder& holder) {
    const std::string temporary = WriteTemporaryLock(directory);
    if (temporary.empty()) {
        return Claim::None;  // no lock folder we may write: flock and TIOCEXCL must do
    }
    struct Remover {
        const std::string& path;
        ~Remover() { ::unlink(path.c_str()); }
    } remover{temporary};

    LockFolderGuard folder(directory);
    for (int attempt = 0; attempt < 6; ++attempt) {
        if (::link(temporary.c_str(), lockPath.c_str()) == 0) {
            return Claim::Ours;
        }
        if (errno != EEXIST) {
            return Claim::None;
        }
        const UucpLock existing = ReadUucpLock(lockPath);
        if (existing.status == UucpLock::Status::Live) {
            holder = {existing.pid, ProcessName(existing.pid)};
            return Claim::Held;
        }
        if (existing.status == UucpLock::Status::Missing) {
            continue;  // removed meanwhile
        }
        // Stale or unreadable. Removing the name opens and follows nothing, but it is done
        // only on what was read while holding the folder, so another opener of this kit
        // cannot have put its own lock there in between.
        if (!folder.Locked()) {
            if (!folder.Lock()) {
                return Claim::None;  // it binds nobody; leave it
            }
            continue;  // look again, now that nobody else of ours can change it
        }
        if (::unlink(lockPath.c_str()) != 0 && errno != ENOENT) {
            return Claim::None;  // someone else's we may not remove: it binds nobody
        }
    }
    return Claim::None;
}

}  // namespace

UucpLock ReadUucpLock(const std::string& lockPath) {
    UucpLock lock;
    const BoundedRead read = ReadBoundedFile(lockPath, kLockFileLimit);
    if (read.status == BoundedRead::Status::Missing) {
        return lock;
    }
    if (read.status == BoundedRead::Status::Refused) {
        lock.status = UucpLock::Status::Unreadable;
        lock.reason = read.reason;
        return lock;
    }
    lock.owner = read.owner;  // of the very file that was read
    lock.status = UucpLock::Status::Stale;
    const auto pid = ParseNumber(std::string_view(read.text).substr(0, read.text.find('\n')));
    if (!pid || *pid <= 0 || *pid > std::numeric_limits<pid_t>::max()) {
        return lock;  // not a lock at all
    }
    lock.pid = static_cast<pid_t>(*pid);
    if (ProcessExists(lock.pid) && MayHaveWritten(lock.owner, lock.pid)) {
        lock.status = UucpLock::Status::Live;
    }
    return lock;
}

bool AcquireUucpLock(const std::string& directory, const std::string& devicePath,
                     std::string& lockFile, DeviceHolder& holder) {
    lockFile.clear();
    const std::string lockPath = directory + "/" + UucpLockName(devicePath);
    switch (ClaimLock(directory, lockPath, holder)) {
        case Claim::Ours:
            lockFile = lockPath;
            return true;
        case Claim::Held:
            return false;
        case Claim::None:
            break;
    }
    return true;
}

bool KeepUucpLock(std::string& lockFile, DeviceHolder& holder) {
    if (lockFile.empty() || IsOurs(ReadUucpLock(lockFile))) {
        return true;
    }
    const std::string directory = lockFile.substr(0, lockFile.find_last_of('/'));
    switch (ClaimLock(directory, lockFile, holder)) {
        case Claim::Ours:
            return true;
        case Claim::Held:
            lockFile.clear();
            return false;
        case Claim::None:
            break;
    }
    lockFile.clear();
    return true;
}

void ReleaseUucpLock(std::string& lockFile) {
    if (lockFile.empty()) {
        return;
    }
    // Remove it only while it is still ours.
    if (IsOurs(ReadUucpLock(lockFile))) {
        ::unlink(lockFile.c_str());
    }
    lockFile.clear();
}

}  // namespace k5
