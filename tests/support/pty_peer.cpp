#include "tests/support/pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace k5::test {

Bytes ToBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

PtyPeer::PtyPeer() {
    masterFd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd_ < 0 || ::grantpt(masterFd_) != 0 || ::unlockpt(masterFd_) != 0) {
        throw std::runtime_error("cannot create a pseudo-terminal");
    }
    devicePath_ = ::ptsname(masterFd_);
    slaveFd_ = ::open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd_ < 0) {
        throw std::runtime_error("cannot open " + devicePath_);
    }
    termios t{};
    ::tcgetattr(slaveFd_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slaveFd_, TCSANOW, &t);
}

PtyPeer::~PtyPeer() {
    HangUp();
}

void PtyPeer::Send(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(masterFd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw std::runtime_error("cannot write to the pseudo-terminal");
        }
        done += static_cast<size_t>(n);
    }
}

Bytes PtyPeer::Receive(size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Bytes out;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd p{masterFd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0 || !(p.revents & POLLIN)) {
            continue;
        }
        uint8_t buffer[256];
        const ssize_t n = ::read(masterFd_, buffer, std::min(sizeof buffer, count - out.size()));
        if (n > 0) {
            out.insert(out.end(), buffer, buffer + n);
        }
    }
    return out;
}

void PtyPeer::HangUp() {
    if (slaveFd_ >= 0) {
        ::close(slaveFd_);
        slaveFd_ = -1;
    }
    if (masterFd_ >= 0) {
        ::close(masterFd_);
        masterFd_ = -1;
    }
}

bool IsReadRequest(const Bytes& request, uint16_t& address) {
    if (request.size() != 7 || request[0] != 0xFF || request[1] != 0x04 || request[3] != 0x03) {
        return false;
    }
    address = static_cast<uint16_t>((request[4] << 8) | request[5]);
    return true;
}

namespace {

// Splits one complete request off the front of `pending`, if there is one.
bool TakeRequest(Bytes& pending, Bytes& request) {
    if (pending.empty()) {
        return false;
    }
    size_t size = 0;
    if (pending[0] == 0xFF) {
        if (pending.size() < 2) {
            return false;
        }
        size = size_t{pending[1]} + 3;
    } else {
        // A text command runs to the carriage return that closes it.
        for (size_t i = pending[0] == '\r' ? 1 : 0; i < pending.size(); ++i) {
            if (pending[i] == '\r') {
                size = i + 1;
                break;
            }
        }
        if (size == 0) {
            return false;
        }
    }
    if (pending.size() < size) {
        return false;
    }
    request.assign(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(size));
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(size));
    return true;
}

}  // namespace

ScriptedPeer::ScriptedPeer(Handler handler) : handler_(std::move(handler)) {
    if (::pipe2(wakeFd_, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot create a pipe");
    }
    thread_ = std::thread([this] { Serve(); });
}

ScriptedPeer::~ScriptedPeer() {
    HangUp();
    ::close(wakeFd_[0]);
    ::close(wakeFd_[1]);
}

void ScriptedPeer::HangUp() {
    if (thread_.joinable()) {
        const char stop = 's';
        (void)::write(wakeFd_[1], &stop, 1);
        thread_.join();
    }
    pty_.HangUp();
}

std::vector<ScriptedPeer::Request> ScriptedPeer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void ScriptedPeer::Serve() {
    Bytes pending;
    for (;;) {
        pollfd p[2] = {{pty_.MasterFd(), POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (p[1].revents != 0) {
            return;
        }
        if (!(p[0].revents & POLLIN)) {
            // The terminal side has nobody on it for now; poll again shortly.
            ::poll(nullptr, 0, 1);
            continue;
        }
        uint8_t buffer[256];
        const ssize_t n = ::read(pty_.MasterFd(), buffer, sizeof buffer);
        if (n <= 0) {
            continue;
        }
        pending.insert(pending.end(), buffer, buffer + n);
        Bytes request;
        while (TakeRequest(pending, request)) {
            {
                std::lock_guard lock(mutex_);
                requests_.push_back({request, std::chrono::steady_clock::now()});
            }
            const Bytes reply = handler_(request);
            if (!reply.empty()) {
                pty_.Send(reply);
            }
        }
    }
}

}  // namespace k5::test
