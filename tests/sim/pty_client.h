#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace k5::sim::test {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(std::string_view text);

// A plain client of the simulator's terminal: the slave side opened with open() and set to
// raw mode, as the programs' serial layer would.
class PtyClient {
public:
    explicit PtyClient(const std::string& path);
    ~PtyClient();
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    void Close();

    // Writes all bytes; false if the line refused them.
    bool Send(const Bytes& bytes);
    bool Send(std::string_view text) { return Send(ToBytes(text)); }

    // Reads until `count` bytes have arrived or `timeout` has passed.
    Bytes Receive(size_t count, std::chrono::milliseconds timeout);

    // Waits until the line hangs up: poll reports POLLHUP or a read fails with EIO.
    bool WaitForHangUp(std::chrono::milliseconds timeout);

private:
    int fd_ = -1;
};

}  // namespace k5::sim::test
