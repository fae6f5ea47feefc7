#include "serialport/bounded_file_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/os_error.h"
#include "platform/unique_fd_posix.h"

namespace k5 {

namespace {

const char* KindOf(mode_t mode) {
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a plain file";
}

BoundedRead Refused(std::string reason) {
    return {BoundedRead::Status::Refused, {}, std::move(reason), 0};
}

}  // namespace

BoundedRead ReadBoundedFile(const std::string& path, std::size_t limit) {
    const UniqueFd file(
        ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!file) {
        if (errno == ENOENT) {
            return {};
        }
        return Refused(errno == ELOOP ? "it is a symbolic link" : ErrnoText(errno));
    }
    const int fd = file.Get();

    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return Refused(ErrnoText(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return Refused(std::string("it is ") + KindOf(info.st_mode) + ", not a regular file");
    }
    const std::string tooLarge = "it is larger than " + std::to_string(limit) + " bytes";
    if (static_cast<unsigned long long>(info.st_size) > limit) {
        return Refused(tooLarge);
    }
    // One byte more than the limit tells a file that grew after the fstat.
    std::string text(limit + 1, '\0');
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            return Refused(ErrnoText(errno));
        }
    }
    if (done > limit) {
        return Refused(tooLarge);
    }
    text.resize(done);
    return {BoundedRead::Status::Read, std::move(text), {}, info.st_uid};
}

}  // namespace k5
