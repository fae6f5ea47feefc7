#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace k5 {

// The largest lock file and port table the kit reads.
inline constexpr std::size_t kLockFileLimit = 64;
inline constexpr std::size_t kPortTableLimit = 64 * 1024;

// A small file that another user may have planted or replaced (a lock in a world-writable
// folder, a table in a folder root does not own) is read without trusting it: a final
// symbolic link is not followed, a FIFO or device never blocks the read, and anything but a
// regular file of at most `limit` bytes is refused with the reason.
struct BoundedRead {
    enum class Status { Read, Missing, Refused };
    Status status = Status::Missing;
    std::string text;    // what was read (Read)
    std::string reason;  // why it was refused ("it is a FIFO, not a regular file")
    uid_t owner = 0;     // the owner of the file that was read (Read)
};

BoundedRead ReadBoundedFile(const std::string& path, std::size_t limit);

}  // namespace k5
