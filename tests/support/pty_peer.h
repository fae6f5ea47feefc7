#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace k5::test {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(std::string_view text);

// The far end of a pseudo-terminal, driven by the test itself: what the code under test
// writes to the device path arrives here, and what the test writes here arrives there. The
// peer keeps its own handle on the terminal side so that the line stays up while the code
// under test closes and reopens it.
class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& DevicePath() const { return devicePath_; }
    // The terminal side's own descriptor, for reading its line settings.
    int TerminalFd() const { return slaveFd_; }
    int MasterFd() const { return masterFd_; }

    void Send(const Bytes& bytes);
    void Send(std::string_view text) { Send(ToBytes(text)); }
    // Collects what arrives until `count` bytes are in or `timeout` passes.
    Bytes Receive(size_t count, std::chrono::milliseconds timeout);
    // Closes the line: the code under test sees it hang up.
    void HangUp();

private:
    int masterFd_ = -1;
    int slaveFd_ = -1;
    std::string devicePath_;
};

// A peer that answers each request the code under test sends: a text command (up to its
// closing carriage return) or a register frame (by its length byte). The handler returns the
// reply to send, possibly empty; requests are recorded with the time they were complete.
class ScriptedPeer {
public:
    struct Request {
        Bytes bytes;
        std::chrono::steady_clock::time_point at;
    };
    using Handler = std::function<Bytes(const Bytes& request)>;

    explicit ScriptedPeer(Handler handler);
    ~ScriptedPeer();

    const std::string& DevicePath() const { return pty_.DevicePath(); }
    std::vector<Request> Requests() const;
    // Stops answering and closes the line.
    void HangUp();

private:
    void Serve();

    PtyPeer pty_;
    Handler handler_;
    int wakeFd_[2] = {-1, -1};
    mutable std::mutex mutex_;
    std::vector<Request> requests_;
    std::thread thread_;
};

// A register read request's address, if `request` is one.
bool IsReadRequest(const Bytes& request, uint16_t& address);

}  // namespace k5::test
