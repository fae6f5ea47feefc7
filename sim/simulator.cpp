#include "sim/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <iostream>

#include "platform/os_error.h"
#include "sim/pty_endpoint_posix.h"
#include "sim/trace.h"

namespace k5::sim {

namespace {

// What the line holds for a client that does not read: beyond it replies are lost, as
// they would be on a real port whose input queue is full.
constexpr size_t kMaxOutput = 64 * 1024;
// Replies waiting for their time; beyond it new ones are dropped.
constexpr size_t kMaxPending = 4096;

template <typename T>
void Append(std::deque<T>& log, T entry) {
    log.push_back(std::move(entry));
    while (log.size() > Simulator::kMaxLogEntries) {
        log.pop_front();
    }
}

}  // namespace

std::unique_ptr<Simulator> Simulator::Start(SimConfig config) {
    std::string error;
    return Start(std::move(config), error);
}

std::unique_ptr<Simulator> Simulator::Start(SimConfig config, std::string& error) {
    std::unique_ptr<Simulator> sim(new Simulator(std::move(config)));
    if (!sim->Open(error)) {
        sim->Stop();
        return nullptr;
    }
    sim->thread_ = std::thread([raw = sim.get()] { raw->Serve(); });
    return sim;
}

Simulator::Simulator(SimConfig config)
    : started_(Clock::now()), linkPath_(config.linkPath), model_(std::move(config)) {}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::Open(std::string& error) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int pipeError = errno;
        error = "pipe: " + ErrnoText(pipeError);
        return false;
    }
    wakeRead_.Reset(pipeFds[0]);
    wakeWrite_.Reset(pipeFds[1]);

    line_ = PtyEndpoint::Open(linkPath_, error);
    if (!line_) {
        return false;
    }
    path_ = line_->Path();
    return true;
}

void Simulator::Stop() {
    std::lock_guard stopLock(stopMutex_);
    stopping_ = true;
    if (thread_.joinable()) {
        const char wake = 'x';
        (void)!::write(wakeWrite_.Get(), &wake, 1);
        thread_.join();
    }
    {
        std::lock_guard lock(mutex_);
        line_.reset();  // closes the terminal and removes the link
        pending_.clear();
        output_.clear();
    }
    wakeRead_.Reset();
    wakeWrite_.Reset();
}

int Simulator::Master() const {
    return line_ ? line_->MasterFd() : -1;
}

void Simulator::Update(const std::function<void(SimConfig&)>& change) {
    std::lock_guard lock(mutex_);
    SimConfig& config = model_.Config();
    const bool wasStandby = config.standby;
    change(config);
    if (config.standby != wasStandby) {
        model_.SetPower(!config.standby);
    }
}

SimConfig Simulator::Config() const {
    std::lock_guard lock(mutex_);
    return model_.Config();
}

std::vector<Request> Simulator::Requests() const {
    std::lock_guard lock(mutex_);
    return {requests_.begin(), requests_.end()};
}

std::vector<SentReply> Simulator::Replies() const {
    std::lock_guard lock(mutex_);
    return {replies_.begin(), replies_.end()};
}

void Simulator::ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
    replies_.clear();
    requestsLogged_ = 0;
}

bool Simulator::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return requestArrived_.wait_for(lock, timeout, [&] { return requestsLogged_ >= count; });
}

AmpState Simulator::State() const {
    std::lock_guard lock(mutex_);
    return model_.State();
}

bool Simulator::HungUp() const {
    std::lock_guard lock(mutex_);
    return hungUp_;
}

void Simulator::SetTrace(std::ostream* out) {
    std::lock_guard lock(mutex_);
    trace_ = out;
}

void Simulator::Trace(Clock::time_point when, bool incoming, std::span<const uint8_t> bytes) {
    std::ostream* out = trace_ != nullptr ? trace_ : (model_.Config().trace ? &std::clog : nullptr);
    if (out == nullptr || bytes.empty()) {
        return;
    }
    // One write per line, so that the lines of several units sharing std::clog stay whole.
    const std::string line =
        model_.Config().tracePrefix +
        FormatTraceLine(when - started_, incoming ? Direction::In : Direction::Out, bytes) + "\n";
    *out << line << std::flush;
}

void Simulator::Serve() {
    while (!stopping_) {
        std::array<pollfd, 3> fds{};
        fds[0] = {wakeRead_.Get(), POLLIN, 0};
        nfds_t count = 1;
        int timeoutMs = -1;
        {
            std::lock_guard lock(mutex_);
            if (Master() >= 0) {
                const short events = output_.empty() ? POLLIN : POLLIN | POLLOUT;
                fds[1] = {Master(), events, 0};
                fds[2] = {line_->CloseWatchFd(), POLLIN, 0};
                count = 3;
            }
            if (!pending_.empty()) {
                // Round up, so the reply is never sent before its time.
                const auto wait = pending_.begin()->first - Clock::now();
                const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
                timeoutMs = static_cast<int>(std::clamp<decltype(ms)>(ms, 0, 60'000));
            }
        }
        const int ready = ::poll(fds.data(), count, timeoutMs);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            std::array<char, 64> drain;
            while (::read(wakeRead_.Get(), drain.data(), drain.size()) > 0) {
            }
        }
        if (stopping_) {
            break;
        }
        std::lock_guard lock(mutex_);
        if (count == 3 && (fds[2].revents & POLLIN) != 0) {
            ClientClosed();
        }
        if (count == 3 && Master() >= 0) {
            if ((fds[1].revents & POLLIN) != 0) {
                ReadLine();
            } else if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                // Cannot happen while our own slave descriptor is open; if it does, the
                // line is unusable and polling it again would only spin.
                HangUp();
            }
        }
        SendDue(Clock::now());
        FlushOutput();
    }
}

void Simulator::ReadLine() {
    std::array<uint8_t, 4096> buffer;
    const ssize_t n = ::read(Master(), buffer.data(), buffer.size());
    if (n < 0) {
        if (errno != EAGAIN && errno != EINTR) {
            HangUp();
        }
        return;
    }
    if (n == 0) {
        return;
    }
    const Clock::time_point now = Clock::now();
    const auto bytes = std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n));
    Trace(now, true, bytes);
    std::vector<Request> requests;
    parser_.Feed(bytes, requests);
    for (Request& request : requests) {
        if (Master() < 0) {
            break;  // hung up on an earlier request of this chunk
        }
        HandleRequest(std::move(request), now);
    }
}

void Simulator::HandleRequest(Request request, Clock::time_point now) {
    request.received = now;
    std::optional<Reply> reply = model_.Handle(request);
    Append(requests_, std::move(request));
    ++requestsLogged_;
    requestArrived_.notify_all();

    ++requestsSeen_;
    const size_t hangUpAfter = model_.Config().hangUpAfter;
    if (hangUpAfter > 0 && requestsSeen_ >= hangUpAfter) {
        HangUp();
        return;
    }
    if (!reply || pending_.size() >= kMaxPending) {
        return;
    }
    pending_.emplace(now + reply->delay, Pending{std::move(reply->bytes), reply->switchOnTicket});
}

void Simulator::SendDue(Clock::time_point now) {
    while (!pending_.empty() && pending_.begin()->first <= now) {
        Pending due = std::move(pending_.begin()->second);
        pending_.erase(pending_.begin());
        if (due.switchOnTicket != 0 && !model_.CompleteSwitchOn(due.switchOnTicket)) {
            continue;  // switched off again before it came on: no echo
        }
        if (due.bytes.empty() || output_.size() + due.bytes.size() > kMaxOutput) {
            continue;
        }
        output_.insert(output_.end(), due.bytes.begin(), due.bytes.end());
        Append(replies_, SentReply{now, std::move(due.bytes)});
    }
}

void Simulator::FlushOutput() {
    while (Master() >= 0 && !output_.empty()) {
        const ssize_t n = ::write(Master(), output_.data(), output_.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN) {
                HangUp();
            }
            return;
        }
        const auto written = std::span<const uint8_t>(output_.data(), static_cast<size_t>(n));
        Trace(Clock::now(), false, written);
        output_.erase(output_.begin(), output_.begin() + n);
    }
}

void Simulator::ClientClosed() {
    if (!line_->LastClientLeft()) {
        return;  // a client still has the line
    }
    // The last client is gone: its exclusive-use flag and the request it left half sent must
    // not reach the next one. Scheduled replies still go out (a switch-on completes as on the
    // amplifier); a client purges the line when it opens it.
    line_->ClearExclusiveUse();
    parser_.Reset();
}

void Simulator::HangUp() {
    line_->HangUp();
    pending_.clear();
    output_.clear();
    hungUp_ = true;
}

}  // namespace k5::sim
