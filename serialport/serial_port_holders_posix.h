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

// What a lock file in the world-writable lock folder says, read without trusting it.
struct UucpLock {
    enum class Status {
        Missing,
        Live,        // its process exists and the file belongs to root or to that process's user
        Stale,       // its process is gone, it names none, or anyone could have forged it
        Unreadable,  // a FIFO, link, device, folder or oversized file: never a live lock
    };
    Status status = Status::Missing;
    pid_t pid = 0;       // the process it names (Live, Stale; 0 when it names none)
    uid_t owner = 0;     // the file's owner (Live, Stale)
    std::string reason;  // why it cannot be read (Unreadable)
};

UucpLock ReadUucpLock(const std::string& lockPath);

// False when a live process holds the lock; `holder` then names it. Otherwise `lockFile` is
// the file created for this process, or empty when none could be: a folder we may not
// write, or a stale or unreadable lock we may not remove, which binds nobody and is ignored.
// Stale and unreadable locks are removed only under an flock on the folder itself, after a
// second look, so two openers never both remove and replace one.
bool AcquireUucpLock(const std::string& directory, const std::string& devicePath,
                     std::string& lockFile, DeviceHolder& holder);
// Once the device itself is ours: the lock file must still name this process, and is put
// back if it no longer does. False when a live process holds it now (`holder` names it).
bool KeepUucpLock(std::string& lockFile, DeviceHolder& holder);
// Removes the lock file, if it is still this process's, and clears `lockFile`.
void ReleaseUucpLock(std::string& lockFile);

}  // namespace k5
