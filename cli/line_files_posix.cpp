#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "cli/line_files.h"
#include "platform/os_error.h"
#include "platform/unique_fd_posix.h"
#include "serialport/bounded_file_posix.h"

namespace k5::cli {

struct UnitLogFile::Native {
    UniqueFd fd;
};

UnitLogFile::UnitLogFile(std::filesystem::path path, std::unique_ptr<Native> native)
    : path_(std::move(path)), native_(std::move(native)) {}

UnitLogFile::~UnitLogFile() = default;

std::unique_ptr<UnitLogFile> UnitLogFile::Open(const std::filesystem::path& path,
                                               std::string& error) {
    // O_NONBLOCK: a FIFO planted under the name must not hold the open.
    UniqueFd fd(::open(
        path.c_str(),
        O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_APPEND, 0644));
    if (!fd) {
        const int openError = errno;
        error = openError == ELOOP ? "it is a symbolic link" : ErrnoText(openError);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) {
        error = ErrnoText(errno);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        error = "it is not a regular file";
        return nullptr;
    }
    if (info.st_uid != ::geteuid()) {
        error = "it belongs to another user";
        return nullptr;
    }
    if (info.st_nlink != 1) {
        error = "it has another name (a hard link)";
        return nullptr;
    }
    if (::ftruncate(fd.Get(), 0) != 0) {
        error = ErrnoText(errno);
        return nullptr;
    }
    auto native = std::make_unique<Native>();
    native->fd = std::move(fd);
    return std::unique_ptr<UnitLogFile>(new UnitLogFile(path, std::move(native)));
}

std::optional<std::string> UnitLogFile::Write(std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(native_->fd.Get(), text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return ErrnoText(n < 0 ? errno : ENOSPC);
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
    return std::nullopt;
}

std::optional<std::string> MakeLogFolder(const std::filesystem::path& path) {
    std::error_code ec;
    if (path.has_parent_path()) {
        std::filesystem::create_directories(path.parent_path(), ec);
    }
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        return ErrnoText(errno);
    }
    if (!std::filesystem::is_directory(path, ec)) {
        return "it is not a folder";
    }
    return std::nullopt;
}

std::optional<std::string> ReadUnitsFile(const std::filesystem::path& path, std::string& text) {
    BoundedRead read = ReadBoundedFile(path.string(), kUnitsFileLimit);
    switch (read.status) {
        case BoundedRead::Status::Read:
            text = std::move(read.text);
            return std::nullopt;
        case BoundedRead::Status::Missing:
            return ErrnoText(ENOENT);
        default:
            return read.reason;
    }
}

}  // namespace k5::cli
