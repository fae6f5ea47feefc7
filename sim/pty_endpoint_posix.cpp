#include "sim/pty_endpoint_posix.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "platform/os_error.h"
#include "serialport/notices.h"
#include "serialport/serial_port_holders_posix.h"

namespace k5::sim {

namespace {

// "what: <the system's text for errno>", errno taken before anything else can change it.
std::string Failure(const char* what) {
    const int error = errno;
    return std::string(what) + ": " + ErrnoText(error);
}

}  // namespace

std::unique_ptr<PtyEndpoint> PtyEndpoint::Open(const std::string& linkPath, std::string& error) {
    std::unique_ptr<PtyEndpoint> endpoint(new PtyEndpoint());
    if (!endpoint->Make(linkPath, error)) {
        return nullptr;
    }
    return endpoint;
}

PtyEndpoint::~PtyEndpoint() {
    master_.Reset();
    slave_.Reset();
    closeWatch_.Reset();
    RemoveLink();
}

bool PtyEndpoint::Make(const std::string& linkPath, std::string& error) {
    master_.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master_) {
        error = Failure("posix_openpt");
        return false;
    }
    if (::grantpt(master_.Get()) != 0 || ::unlockpt(master_.Get()) != 0) {
        error = Failure("grantpt/unlockpt");
        return false;
    }
    std::array<char, 128> name{};
    if (::ptsname_r(master_.Get(), name.data(), name.size()) != 0) {
        error = Failure("ptsname");
        return false;
    }
    path_ = name.data();
    const int flags = ::fcntl(master_.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(master_.Get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        error = Failure("fcntl");
        return false;
    }

    slave_.Reset(::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave_) {
        error = Failure(path_.c_str());
        return false;
    }
    // Raw 8N1 at 115200 baud: no echo, no line editing, no CR/LF translation, so every byte
    // passes unchanged in both directions until the client sets the line up itself.
    termios t{};
    if (::tcgetattr(slave_.Get(), &t) != 0) {
        error = Failure("tcgetattr");
        return false;
    }
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&t, B115200);
    ::cfsetospeed(&t, B115200);
    if (::tcsetattr(slave_.Get(), TCSANOW, &t) != 0) {
        error = Failure("tcsetattr");
        return false;
    }

    // A client that leaves, even killed, must not lock the next one out: TIOCEXCL lives on
    // the terminal while we keep it open. The kernel reports every close of the terminal.
    // Without inotify the simulator still serves; only that clean-up is lost.
    // Each unit takes one of the user's inotify instances (128 by default): two lines of 64
    // use them all up, and the loss would otherwise show only as a refused non-root client.
    int watchError = 0;
    closeWatch_.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!closeWatch_) {
        watchError = errno;
    } else if (::inotify_add_watch(closeWatch_.Get(), path_.c_str(),
                                   IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        watchError = errno;
        closeWatch_.Reset();
    }
    if (watchError != 0) {
        NoticeOnce("k5sim close watch",
                   "k5sim: " + path_ + ": cannot watch the terminal for closes (" +
                       ErrnoText(watchError) +
                       "): a client killed while it holds the line keeps other users out of "
                       "it (raise fs.inotify.max_user_instances, or serve fewer units)");
    }

    if (!linkPath.empty()) {
        struct stat info {};
        if (::lstat(linkPath.c_str(), &info) == 0) {
            if (!S_ISLNK(info.st_mode)) {
                error = linkPath + ": exists and is not a symbolic link";
                return false;
            }
            ::unlink(linkPath.c_str());
        }
        if (::symlink(path_.c_str(), linkPath.c_str()) != 0) {
            error = Failure(linkPath.c_str());
            return false;
        }
        link_ = linkPath;
    }
    return true;
}

void PtyEndpoint::RemoveLink() {
    if (link_.empty()) {
        return;
    }
    // Only our own link: something else may have taken the name meanwhile.
    std::array<char, 256> target{};
    const ssize_t n = ::readlink(link_.c_str(), target.data(), target.size() - 1);
    if (n >= 0 && path_ == std::string(target.data(), static_cast<size_t>(n))) {
        ::unlink(link_.c_str());
    }
    link_.clear();
}

bool PtyEndpoint::LastClientLeft() {
    std::array<char, 4096> events;
    while (::read(closeWatch_.Get(), events.data(), events.size()) > 0) {
    }
    struct stat info {};
    return slave_ && ::fstat(slave_.Get(), &info) == 0 &&
           FindDeviceHolders(info.st_rdev, slave_.Get(), true).holders.empty();
}

void PtyEndpoint::ClearExclusiveUse() {
    (void)::ioctl(slave_.Get(), TIOCNXCL);
}

void PtyEndpoint::HangUp() {
    master_.Reset();
    slave_.Reset();
}

}  // namespace k5::sim
