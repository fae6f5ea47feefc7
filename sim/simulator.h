#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd_posix.h"
#include "sim/k5_model.h"
#include "sim/request.h"
#include "sim/request_parser.h"
#include "sim/sim_config.h"

namespace k5::sim {

class PtyEndpoint;

// Bytes the amplifier put on the line, and when.
struct SentReply {
    std::chrono::steady_clock::time_point sent{};
    std::vector<uint8_t> bytes;
};

// The simulated amplifier on a pseudo-terminal: a client opens DevicePath() like a serial
// port and talks to a K5Model. One thread serves the line; every public member may be
// called from any thread.
class Simulator {
public:
    // Older entries of the request and reply logs are dropped beyond this many.
    static constexpr size_t kMaxLogEntries = 10000;

    // Opens the terminal and starts serving; nullptr when the terminal or the link cannot be
    // made (the overload with `error` says why).
    static std::unique_ptr<Simulator> Start(SimConfig config = {});
    static std::unique_ptr<Simulator> Start(SimConfig config, std::string& error);

    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // The terminal's path, e.g. "/dev/pts/3"; stays valid after Stop.
    const std::string& DevicePath() const { return path_; }

    // Stops serving, closes the terminal and removes the link. Safe to call more than once.
    void Stop();

    // Changes the configuration while the simulator runs, e.g. to switch a fault on.
    void Update(const std::function<void(SimConfig&)>& change);
    SimConfig Config() const;

    // Every request received so far, oldest first, with its arrival time.
    std::vector<Request> Requests() const;
    // Every reply sent so far, oldest first, with the time it was written to the line.
    std::vector<SentReply> Replies() const;
    void ClearRequests();  // clears the reply log too

    // Waits until at least `count` requests have arrived in all (since start or the last
    // ClearRequests), or `timeout` has passed; returns whether they did.
    bool WaitForRequests(size_t count, std::chrono::milliseconds timeout) const;

    AmpState State() const;

    // Whether the line has hung up (the hang-up fault struck).
    bool HungUp() const;

    // Writes a line per chunk of bytes in either direction to `out` (nullptr: only when the
    // configuration asks for a trace, then to std::clog). The stream must outlive the
    // simulator or be reset first.
    void SetTrace(std::ostream* out);

private:
    struct Pending {
        std::vector<uint8_t> bytes;
        uint64_t switchOnTicket = 0;
    };
    using Clock = std::chrono::steady_clock;

    explicit Simulator(SimConfig config);
    bool Open(std::string& error);
    void Serve();
    void ReadLine();
    void HandleRequest(Request request, Clock::time_point now);
    void SendDue(Clock::time_point now);
    void FlushOutput();
    void HangUp();
    void ClientClosed();
    void Trace(Clock::time_point when, bool incoming, std::span<const uint8_t> bytes);
    int Master() const;  // -1 when the line is down

    const Clock::time_point started_;
    const std::string linkPath_;
    std::string path_;
    std::unique_ptr<PtyEndpoint> line_;  // the master side under mutex_; gone after Stop
    UniqueFd wakeRead_;
    UniqueFd wakeWrite_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex stopMutex_;

    mutable std::mutex mutex_;  // guards everything below
    mutable std::condition_variable requestArrived_;
    K5Model model_;
    RequestParser parser_;
    std::multimap<Clock::time_point, Pending> pending_;  // replies by the time they are due
    std::vector<uint8_t> output_;                        // written to the line as it takes them
    std::deque<Request> requests_;
    std::deque<SentReply> replies_;
    size_t requestsLogged_ = 0;  // since start or ClearRequests, including dropped entries
    size_t requestsSeen_ = 0;    // since start, for the hang-up fault
    bool hungUp_ = false;
    std::ostream* trace_ = nullptr;
};

}  // namespace k5::sim
