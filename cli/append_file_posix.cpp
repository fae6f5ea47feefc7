#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "cli/append_file.h"

namespace k5::cli {

namespace {

std::string ErrnoText(int error) {
    return std::strerror(error);
}

// A write lock on the whole file, present and future bytes alike.
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

// Waits for the lock in short naps: the signals that stop a run are taken by the interrupt
// watch's thread, so a waiting F_SETLKW could not be broken off, and a station that crashed
// while holding a lock on a network file system may keep it for minutes.
std::optional<std::string> LockWholeFile(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + AppendFile::kLockWait;
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
                   std::to_string(AppendFile::kLockWait.count()) + " s";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void Unlock(int fd) {
    struct flock lock = WholeFile(F_UNLCK);
    fcntl(fd, F_SETLK, &lock);
}

}  // namespace

struct AppendFile::Native {
    int fd = -1;
};

AppendFile::AppendFile(std::filesystem::path path, std::unique_ptr<Native> native)
    : path_(std::move(path)), native_(std::move(native)) {}

AppendFile::~AppendFile() {
    close(native_->fd);
}

std::unique_ptr<AppendFile> AppendFile::Open(const std::filesystem::path& path,
                                             std::string& error) {
    // Read access too, to see whether the file ends its last line. O_NONBLOCK keeps a FIFO
    // planted under the name from blocking the open; it is refused just below.
    const int fd =
        open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = errno == ELOOP ? "it is a symbolic link" : ErrnoText(errno);
        return nullptr;
    }
    auto native = std::make_unique<Native>();
    native->fd = fd;
    std::unique_ptr<AppendFile> file(new AppendFile(path, std::move(native)));
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        error = ErrnoText(errno);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        error = "not a regular file";
        return nullptr;
    }
    // A file system that keeps no locks (NFSv3 without lockd) is refused now rather than
    // after the run; a lock that another station holds for a moment is no obstacle here.
    struct flock probe = WholeFile(F_WRLCK);
    if (fcntl(fd, F_SETLK, &probe) != 0 && !HeldElsewhere(errno)) {
        error = "cannot lock the file: " + ErrnoText(errno);
        return nullptr;
    }
    Unlock(fd);
    return file;
}

std::optional<std::string> AppendFile::Append(std::string_view text, bool ownLine) {
    const int fd = native_->fd;
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
    // A network file system may report a full disk or quota only when the data is flushed.
    if (static_cast<size_t>(written) == data.size() && fdatasync(fd) != 0) {
        error = errno;
        written = -1;
    }
    std::optional<std::string> failure;
    if (static_cast<size_t>(written) != data.size()) {
        failure = written < 0 ? ErrnoText(error)
                              : "short write (" + std::to_string(written) + " of " +
                                    std::to_string(data.size()) + " bytes)";
        if (ftruncate(fd, size) != 0) {
            *failure += "; the partial text could not be removed: " + ErrnoText(errno);
        }
    }
    Unlock(fd);
    return failure;
}

}  // namespace k5::cli
