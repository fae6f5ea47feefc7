#include "pty_client.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace k5::sim::test {

using Clock = std::chrono::steady_clock;

Bytes ToBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

PtyClient::PtyClient(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        return;
    }
    termios t{};
    if (::tcgetattr(fd_, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
    }
    // Like the programs' serial layer: whatever a previous client left unread is discarded.
    ::tcflush(fd_, TCIOFLUSH);
}

PtyClient::~PtyClient() {
    Close();
}

void PtyClient::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool PtyClient::Send(const Bytes& bytes) {
    size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, 10);
    }
    return true;
}

Bytes PtyClient::Receive(size_t count, std::chrono::milliseconds timeout) {
    Bytes got;
    const auto deadline = Clock::now() + timeout;
    while (got.size() < count) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            break;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        uint8_t buffer[256];
        const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
        if (n > 0) {
            got.insert(got.end(), buffer, buffer + n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;  // hung up
        }
    }
    return got;
}

bool PtyClient::WaitForHangUp(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, 20);
        if (ready > 0 && (p.revents & POLLHUP) != 0) {
            return true;
        }
        if (ready > 0 && (p.revents & POLLIN) != 0) {
            uint8_t byte;
            const ssize_t n = ::read(fd_, &byte, 1);
            if (n < 0 && errno == EIO) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace k5::sim::test
