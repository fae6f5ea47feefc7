// Who else has a serial device: /proc/*/fd, and the UUCP lock files of terminal programs.
#include "serialport/serial_port_holders_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>

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

bool AcquireUucpLock(const std::string& directory, const std::string& devicePath,
                     std::string& lockFile, DeviceHolder& holder) {
    lockFile.clear();
    const std::string lockPath = directory + "/" + UucpLockName(devicePath);
    // The HDB format: the owner's pid as ten right-aligned digits and a newline. It is
    // written to a private file first and linked into place, so nobody reads half a lock.
    char content[16];
    const int length =
        std::snprintf(content, sizeof content, "%10d\n", static_cast<int>(::getpid()));
    const std::string temporary = directory + "/LTMP." + std::to_string(::getpid());
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            return true;  // no lock directory we may write: flock and TIOCEXCL must do
        }
        const bool written = ::write(fd, content, static_cast<size_t>(length)) == length;
        ::close(fd);
        const int linked = written ? ::link(temporary.c_str(), lockPath.c_str()) : -1;
        const int linkError = errno;
        ::unlink(temporary.c_str());
        if (linked == 0) {
            lockFile = lockPath;
            return true;
        }
        if (!written || linkError != EEXIST) {
            return true;
        }

        std::ifstream existing(lockPath);
        std::string text;
        std::getline(existing, text);
        const auto owner = ParseNumber(text);
        if (owner && *owner > 0 && (::kill(static_cast<pid_t>(*owner), 0) == 0 || errno == EPERM)) {
            holder = {static_cast<pid_t>(*owner), ProcessName(static_cast<pid_t>(*owner))};
            return false;
        }
        // Stale: its process is gone (or the file is not a lock at all).
        if (::unlink(lockPath.c_str()) != 0 && errno != ENOENT) {
            return true;  // someone else's stale lock we may not remove: it binds nobody
        }
    }
    return true;
}

void ReleaseUucpLock(std::string& lockFile) {
    if (lockFile.empty()) {
        return;
    }
    // Remove it only while it is still ours.
    std::ifstream existing(lockFile);
    std::string text;
    std::getline(existing, text);
    if (ParseNumber(text) == ::getpid()) {
        ::unlink(lockFile.c_str());
    }
    lockFile.clear();
}

}  // namespace k5
