#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/locked_append_file.h"
#include "platform/os_error.h"
#include "platform/unique_fd_posix.h"

namespace k5 {

namespace {

// A lock on the whole file, present and future bytes alike.
struct flock WholeFile(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return lock;
}

// Another process holds a lock that conflicts with ours.
bool HeldElsewhere(int error) {
    return error == EACCES || error == EAGAIN;
}

// Waits for the lock in short naps: the signals that stop a k5ctl run are taken by its
// interrupt watch's thread, so a waiting F_SETLKW could not be broken off, and a station that
// crashed while holding a lock on a network file system may keep it for minutes.
std::optional<std::string> LockWholeFile(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + LockedAppendFile::kLockWait;
    for (;;) {
        struct flock lock = WholeFile(F_WRLCK);
        if (fcntl(fd, F_SETLK, &lock) == 0) {
            return std::nullopt;
        }
        const int error = errno;
        if (error == EINTR) {
            continue;
        }
        if (!HeldElsewhere(error)) {
            return "cannot lock the file: " + ErrnoText(error);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return "another program has kept the file locked for " +
                   std::to_string(LockedAppendFile::kLockWait.count()) + " s";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void Unlock(int fd) {
    struct flock lock = WholeFile(F_UNLCK);
    fcntl(fd, F_SETLK, &lock);
}

}  // namespace

struct LockedAppendFile::Native {
    UniqueFd fd;
};

LockedAppendFile::LockedAppendFile(std::filesystem::path path, LockedAppendRules rules,
                                   std::unique_ptr<Native> native)
    : path_(std::move(path)), rules_(rules), native_(std::move(native)) {}

LockedAppendFile::~LockedAppendFile() = default;

std::unique_ptr<LockedAppendFile> LockedAppendFile::Open(const std::filesystem::path& path,
                                                         std::string& error,
                                                         LockedAppendRules rules) {
    // Read access too, to see whether the file ends its last line. O_NONBLOCK keeps a FIFO
    // planted under the name from blocking the open.
    const int flags = O_RDWR | O_CREAT | O_APPEND | O_NONBLOCK | O_CLOEXEC |
                      (rules.regularFileOnly ? O_NOFOLLOW : 0);
    UniqueFd fd(open(path.c_str(), flags, 0666));
    if (!fd) {
        error =
            rules.regularFileOnly && errno == ELOOP ? "it is a symbolic link" : ErrnoText(errno);
        return nullptr;
    }
    struct stat info {};
    if (fstat(fd.Get(), &info) != 0) {
        error = ErrnoText(errno);
        return nullptr;
    }
    if (rules.regularFileOnly && !S_ISREG(info.st_mode)) {
        error = "not a regular file";
        return nullptr;
    }
    // A file system that keeps no locks (NFSv3 without lockd) is refused now rather than
    // after the run; a lock that another station holds for a moment is no obstacle here.
    struct flock probe = WholeFile(F_WRLCK);
    if (fcntl(fd.Get(), F_SETLK, &probe) != 0 && !HeldElsewhere(errno)) {
        error = "cannot lock the file: " + ErrnoText(errno);
        return nullptr;
    }
    Unlock(fd.Get());
    auto native = std::make_unique<Native>();
    native->fd = std::move(fd);
    return std::unique_ptr<LockedAppendFile>(new LockedAppendFile(path, rules, std::move(native)));
}

std::optional<std::string> LockedAppendFile::Append(std::string_view text, bool ownLine) {
    // The file lock does not exclude the threads of one process; this does.
    const std::lock_guard threads(appendMutex_);
    const int fd = native_->fd.Get();
    if (std::optional<std::string> failure = LockWholeFile(fd)) {
        return failure;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        const int error = errno;
        Unlock(fd);
        return ErrnoText(error);
    }
    const off_t size = info.st_size;
    std::string data;
    char last = '\n';
    if (ownLine && size > 0 && pread(fd, &last, 1, size - 1) == 1 && last != '\n') {
        data.push_back('\n');
    }
    data.append(text);

    ssize_t written = 0;
    do {
        written = write(fd, data.data(), data.size());
    } while (written < 0 && errno == EINTR);
    int error = written < 0 ? errno : 0;
    // A network file system may report a full disk or quota only when the data is flushed;
    // only a regular file has data on a disk to flush.
    if (static_cast<size_t>(written) == data.size() && S_ISREG(info.st_mode) &&
        fdatasync(fd) != 0) {
        error = errno;
        written = -1;
    }
    std::optional<std::string> failure;
    if (static_cast<size_t>(written) != data.size()) {
        failure = written < 0 ? ErrnoText(error)
                              : "short write (" + std::to_string(written) + " of " +
                                    std::to_string(data.size()) + " bytes)";
        if (rules_.cutBackShortWrite && ftruncate(fd, size) != 0) {
            *failure += "; the partial text could not be removed: " + ErrnoText(errno);
        }
    }
    Unlock(fd);
    return failure;
}

}  // namespace k5
