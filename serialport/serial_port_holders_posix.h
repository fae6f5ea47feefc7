#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace k5 {

// A process that has a device open.
struct DeviceHolder {
    pid_t pid = 0;
    std::string name;  // its command name, as ps shows it
};

struct DeviceHolders {
    std::vector<DeviceHolder> holders;  // in ascending pid order
    bool complete = true;               // false: some processes' descriptors could not be read
};

// Every process that has the character device `rdev` open, read from /proc/*/fd; opens
// nothing. `ownFd` (a descriptor of this process on the device) is not counted. For a
// pseudo-terminal slave, a process holding its master side is the line's far end (a
// simulator), not a holder, whether or not it also keeps the slave open; the far end itself
// asks with `countOwnProcess` to learn whether any client is left, its own included.
DeviceHolders FindDeviceHolders(dev_t rdev, int ownFd, bool countOwnProcess = false);

// "minicom (pid 1234)".
std::string DescribeHolder(const DeviceHolder& holder);
std::string ProcessName(pid_t pid);

// The UUCP lock file LCK..<name> that terminal programs (minicom, picocom, cu) create in
// /run/lock for a device they use: honoured, created while the port is open and removed at
// Close. A lock whose process is gone is stale and removed; a lock directory we cannot
// write is not a reason to refuse the port (flock and TIOCEXCL still keep others out).
inline constexpr const char* kUucpLockDirectory = "/run/lock";

// The lock file's name for a device path: its path below /dev with '/' as '_'.
std::string UucpLockName(const std::string& devicePath);

// False when a live process holds the lock; `holder` then names it. Otherwise `lockFile` is
// the file created for this process, or empty when none could be.
bool AcquireUucpLock(const std::string& directory, const std::string& devicePath,
                     std::string& lockFile, DeviceHolder& holder);
// Removes the lock file, if it is still this process's, and clears `lockFile`.
void ReleaseUucpLock(std::string& lockFile);

}  // namespace k5
