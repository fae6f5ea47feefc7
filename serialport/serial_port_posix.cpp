// The serial device on POSIX systems: termios for the line, poll() with a steady-clock
// deadline for the time-outs, and for exclusive use the UUCP lock file, flock(), TIOCEXCL and
// a look at which processes already have the device open.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/os_error.h"
#include "platform/unique_fd_posix.h"
#include "serialport/device_access_posix.h"
#include "serialport/serial_port.h"
#include "serialport/serial_port_holders_posix.h"
#include "serialport/termios_settings_posix.h"
#include "serialport/tty_sysfs_posix.h"

namespace k5 {

namespace {

using Clock = std::chrono::steady_clock;

// False only when sysfs knows the device and files it under a class other than "tty".
bool IsTerminalClass(dev_t rdev) {
    const std::string entry = "/sys/dev/char/" + std::to_string(major(rdev)) + ":" +
                              std::to_string(minor(rdev)) + "/subsystem";
    std::error_code ec;
    const auto subsystem = std::filesystem::read_symlink(entry, ec);
    return ec || subsystem.filename() == "tty";
}

// A deadline `timeout` from now; kNoTimeout (or anything beyond a century) is never.
Clock::time_point DeadlineAfter(std::chrono::milliseconds timeout) {
    constexpr auto kNever = std::chrono::hours(24 * 365 * 100);
    const auto now = Clock::now();
    return timeout >= kNever ? now + kNever : now + timeout;
}

// Milliseconds for poll(), rounded up so that a wait never ends before its deadline.
int PollTimeout(Clock::duration remaining) {
    if (remaining <= Clock::duration::zero()) {
        return 0;
    }
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(remaining).count();
    const auto ms = (ns + 999'999) / 1'000'000;
    return ms > 1'000'000'000 ? 1'000'000'000 : static_cast<int>(ms);
}

// Why a device could not be reached, by the errno of the call that failed.
PortError PortErrorOf(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ENXIO:
        case ENODEV:
        case EIO:
            return PortError::NotFound;
        case EACCES:
        case EPERM:
            return PortError::PermissionDenied;
        case EBUSY:  // another opener set TIOCEXCL
            return PortError::InUse;
        default:
            return PortError::Other;
    }
}

}  // namespace

struct SerialPort::Native {
    UniqueFd fd;
    std::string lockFile;  // the UUCP lock file held while the port is open
};

SerialPort::SerialPort() = default;

SerialPort::~SerialPort() {
    Close();
}

bool SerialPort::Open(const std::string& devicePath, const SerialSettings& settings) {
    Close();
    hungUp_ = false;
    Fail(PortError::None, {});

    if (devicePath.empty()) {
        Fail(PortError::NotFound, "no device is mapped to this port");
        return false;
    }
    std::string why;
    const auto line = ToLineFlags(settings, why);
    if (!line) {
        Fail(PortError::UnsupportedSetting, devicePath + ": " + why);
        return false;
    }

    struct stat info {};
    if (::stat(devicePath.c_str(), &info) != 0) {
        const int error = errno;
        switch (const PortError kind = PortErrorOf(error)) {
            case PortError::NotFound:
                Fail(kind, devicePath + ": no such device");
                break;
            case PortError::PermissionDenied:
                Fail(kind, devicePath + ": permission denied");
                break;
            default:
                Fail(kind, devicePath + ": " + ErrnoText(error));
                break;
        }
        return false;
    }
    if (!S_ISCHR(info.st_mode)) {
        Fail(PortError::NotSerialDevice, devicePath + ": not a serial device");
        return false;
    }

    // A character device that sysfs files under another class than tty (/dev/null, a disk)
    // is no serial port; refuse it without opening it. Pseudo-terminals have no entry.
    if (!IsTerminalClass(info.st_rdev)) {
        Fail(PortError::NotSerialDevice, devicePath + ": not a serial device");
        return false;
    }

    // The kernel's console writes its messages onto its line at its own settings: opening
    // it would garble the console, and the console the amplifier's replies. Auto Detect
    // then passes it over as it does a port another program holds.
    if (const TtySysfs ttys("/"); ttys.IsConsole(ttys.TtyName(devicePath, false).value_or(""))) {
        Fail(PortError::InUse, devicePath + ": in use as the system console");
        return false;
    }

    // Terminal programs announce their use of a device with a UUCP lock file; honour theirs
    // and leave ours, under the device's own name so a link to it finds the same lock.
    std::error_code canonicalError;
    const std::string node = std::filesystem::canonical(devicePath, canonicalError).string();
    std::string lockFile;
    DeviceHolder lockHolder;
    if (!AcquireUucpLock(kUucpLockDirectory, canonicalError ? devicePath : node, lockFile,
                         lockHolder)) {
        Fail(PortError::InUse, devicePath + ": in use by " + DescribeHolder(lockHolder));
        return false;
    }
    const auto inUseBy = [&](int ownFd) {
        const DeviceHolders found = FindDeviceHolders(info.st_rdev, ownFd);
        return found.holders.empty() ? std::string("in use by another program")
                                     : "in use by " + DescribeHolder(found.holders.front());
    };

    UniqueFd fd(::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        const int error = errno;
        ReleaseUucpLock(lockFile);
        switch (const PortError kind = PortErrorOf(error)) {
            case PortError::PermissionDenied:
                Fail(kind,
                     devicePath + ": permission denied (" + PermissionAdviceFor(devicePath) + ")");
                break;
            case PortError::InUse:
                Fail(kind, devicePath + ": " + inUseBy(-1));
                break;
            case PortError::NotFound:
                Fail(kind, devicePath + ": no such device (" + ErrnoText(error) + ")");
                break;
            default:
                Fail(kind, devicePath + ": " + ErrnoText(error));
                break;
        }
        return false;
    }

    // From here on every failure must undo what this attempt did to the device: TIOCEXCL
    // outlives our descriptor while anyone else (a simulator) keeps the device open.
    bool exclusive = false;
    auto failOpen = [&](PortError error, std::string text) {
        if (exclusive) {
            (void)::ioctl(fd.Get(), TIOCNXCL);
        }
        ::flock(fd.Get(), LOCK_UN);
        fd.Reset();
        ReleaseUucpLock(lockFile);
        Fail(error, devicePath + ": " + std::move(text));
        return false;
    };

    // The node may have been swapped between the look above and the open: the device opened
    // must be the one that was checked (and whose lock was taken).
    struct stat opened {};
    if (::fstat(fd.Get(), &opened) != 0 || !S_ISCHR(opened.st_mode) ||
        opened.st_rdev != info.st_rdev) {
        return failOpen(PortError::NotSerialDevice,
                        "the device node was replaced while it was being opened");
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            return failOpen(PortError::InUse, inUseBy(fd.Get()));
        }
        return failOpen(PortError::Other, "cannot lock: " + ErrnoText(error));
    }
    // The device is ours among those who flock it; the lock file must say so too, whatever
    // another opener that judged it stale did to it meanwhile.
    if (!KeepUucpLock(lockFile, lockHolder)) {
        return failOpen(PortError::InUse, "in use by " + DescribeHolder(lockHolder));
    }
    // TIOCEXCL keeps out later openers that do not take the lock (root is exempt from it,
    // hence the lock as well); set before the look at the holders, so nobody slips in after.
    exclusive = ::ioctl(fd.Get(), TIOCEXCL) == 0;
    termios t{};
    if (::tcgetattr(fd.Get(), &t) != 0) {
        const int error = errno;
        if (error == ENOTTY || error == EINVAL) {
            return failOpen(PortError::NotSerialDevice, "not a serial device");
        }
        return failOpen(PortError::Other, "cannot read line settings: " + ErrnoText(error));
    }
    // A program that opened the device before us and took no lock (a terminal program, a
    // getty, ModemManager) would steal our replies: refuse the device while it has it.
    if (const DeviceHolders found = FindDeviceHolders(info.st_rdev, fd.Get());
        !found.holders.empty()) {
        return failOpen(PortError::InUse, "in use by " + DescribeHolder(found.holders.front()));
    }
    MakeRaw(t, *line);
    if (::tcsetattr(fd.Get(), TCSANOW, &t) != 0) {
        return failOpen(PortError::SettingsNotApplied,
                        "cannot apply line settings: " + ErrnoText(errno));
    }
    termios readBack{};
    if (::tcgetattr(fd.Get(), &readBack) != 0 || !SettingsTook(readBack, *line)) {
        return failOpen(PortError::SettingsNotApplied, "the device did not keep the line settings");
    }

    // DTR and RTS off. Devices without modem lines (pseudo-terminals) refuse the request.
    int modemBits = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(fd.Get(), TIOCMBIC, &modemBits) != 0 && errno != EINVAL && errno != ENOTTY) {
        return failOpen(PortError::Other, "cannot clear DTR and RTS: " + ErrnoText(errno));
    }

    ::tcflush(fd.Get(), TCIOFLUSH);
    native_ = std::make_unique<Native>(Native{std::move(fd), std::move(lockFile)});
    return true;
}

void SerialPort::Close() {
    if (!IsOpen()) {
        return;
    }
    const std::unique_ptr<Native> native = std::move(native_);
    (void)::ioctl(native->fd.Get(), TIOCNXCL);
    ::flock(native->fd.Get(), LOCK_UN);
    native->fd.Reset();
    ReleaseUucpLock(native->lockFile);
}

void SerialPort::Purge() {
    if (IsOpen() && !hungUp_) {
        ::tcflush(native_->fd.Get(), TCIOFLUSH);
    }
}

size_t SerialPort::Write(const uint8_t* data, size_t count, const TotalTimeout& total) {
    if (!IsOpen() || hungUp_) {
        return 0;
    }
    const int fd = native_->fd.Get();
    const auto deadline = DeadlineAfter(total.For(count));
    size_t written = 0;
    while (written < count) {
        const ssize_t n = ::write(fd, data + written, count - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            const int timeout = PollTimeout(deadline - Clock::now());
            if (timeout == 0) {
                break;
            }
            pollfd p{fd, POLLOUT, 0};
            const int ready = ::poll(&p, 1, timeout);
            if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                MarkHungUp();
                break;
            }
            continue;  // writable, timed out (caught above next time round) or interrupted
        }
        if (n < 0 && (errno == EIO || errno == ENXIO)) {
            MarkHungUp();
        }
        break;
    }
    if (hungUp_) {
        return written;
    }

    // The bytes have reached the driver; they have been written when they have left its
    // output queue. There is no waitable event for that, so watch the queue at about the
    // pace it drains (roughly a byte per 87 us at 115200 baud), never past the deadline.
    int queued = 0;
    while (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        const auto now = Clock::now();
        if (now >= deadline) {
            break;
        }
        const auto pace = std::chrono::microseconds(100) * queued;
        const auto step = std::clamp<Clock::duration>(pace, std::chrono::milliseconds(1),
                                                      std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::min<Clock::duration>(step, deadline - now));
    }
    if (queued > 0) {
        // Timed out with bytes still queued: they are not sent, as on Windows, so the count
        // returned is what really went out.
        ::tcflush(fd, TCOFLUSH);
        written -= std::min(written, static_cast<size_t>(queued));
    }
    return written;
}

size_t SerialPort::Read(uint8_t* buffer, size_t maxCount, const ReadTimeouts& timeouts) {
    if (!IsOpen() || hungUp_) {
        return 0;
    }
    const int fd = native_->fd.Get();
    const auto deadline = DeadlineAfter(timeouts.total.For(maxCount));
    const auto interval = timeouts.interval;
    const bool intervalUsed = interval != kNoTimeout;
    Clock::time_point lastByte{};
    size_t got = 0;
    // Takes whatever is waiting, without blocking (a raw terminal with nothing waiting
    // answers 0 or EAGAIN); false when the line is gone.
    const auto takeWaiting = [&] {
        const ssize_t n = ::read(fd, buffer + got, maxCount - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
            lastByte = Clock::now();
        }
        return n >= 0 || errno == EAGAIN || errno == EINTR;
    };
    while (got < maxCount) {
        // The interval time-out runs only once a byte has arrived.
        auto until = deadline;
        if (got > 0 && intervalUsed && lastByte + interval < until) {
            until = lastByte + interval;
        }
        const auto now = Clock::now();
        if (now >= until) {
            // Bytes that arrived as the time ran out count, as a driver's buffer would.
            if (until == deadline && !takeWaiting()) {
                MarkHungUp();
                return 0;
            }
            break;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, PollTimeout(until - now));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;  // the deadline stays; the loop recomputes what is left
            }
            MarkHungUp();
            return 0;
        }
        if (ready == 0) {
            continue;  // the deadline check at the top ends the read
        }
        if ((p.revents & POLLIN) == 0) {
            // POLLHUP, POLLERR or POLLNVAL without data: the line is gone.
            MarkHungUp();
            return 0;
        }
        const ssize_t n = ::read(fd, buffer + got, maxCount - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
            lastByte = Clock::now();
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
            // End of file after readiness, or EIO: the other end hung up.
            MarkHungUp();
            return 0;
        }
    }
    return got;
}

}  // namespace k5
