#include "sim/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "serialport/serial_port_holders_posix.h"
#include "sim/trace.h"

namespace k5::sim {

namespace {

// What the line holds for a client that does not read: beyond it replies are lost, as
// they would be on a real port whose input queue is full.
constexpr size_t kMaxOutput = 64 * 1024;
// Replies waiting for their time; beyond it new ones are dropped.
constexpr size_t kMaxPending = 4096;

std::string ErrnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

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
    : started_(Clock::now()), link_(config.linkPath), model_(std::move(config)) {}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::Open(std::string& error) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = ErrnoText("pipe");
        return false;
    }
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];

    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        error = ErrnoText("posix_openpt");
        return false;
    }
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        error = ErrnoText("grantpt/unlockpt");
        return false;
    }
    std::array<char, 128> name{};
    if (::ptsname_r(master_, name.data(), name.size()) != 0) {
        error = ErrnoText("ptsname");
        return false;
    }
    path_ = name.data();
    const int flags = ::fcntl(master_, F_GETFL);
    if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = ErrnoText("fcntl");
        return false;
    }

    slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        error = ErrnoText(path_.c_str());
        return false;
    }
    // Raw 8N1 at 115200 baud: no echo, no line editing, no CR/LF translation, so every byte
    // passes unchanged in both directions until the client sets the line up itself.
    termios t{};
    if (::tcgetattr(slave_, &t) != 0) {
        error = ErrnoText("tcgetattr");
        return false;
    }
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&t, B115200);
    ::cfsetospeed(&t, B115200);
    if (::tcsetattr(slave_, TCSANOW, &t) != 0) {
        error = ErrnoText("tcsetattr");
        return false;
    }

    // A client that leaves, even killed, must not lock the next one out: TIOCEXCL lives on
    // the terminal while we keep it open. The kernel reports every close of the terminal.
    // Without inotify the simulator still serves; only that clean-up is lost.
    closeWatch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (closeWatch_ >= 0 &&
        ::inotify_add_watch(closeWatch_, path_.c_str(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        CloseFd(closeWatch_);
    }

    if (!link_.empty()) {
        struct stat info {};
        if (::lstat(link_.c_str(), &info) == 0) {
            if (!S_ISLNK(info.st_mode)) {
                error = link_ + ": exists and is not a symbolic link";
                link_.clear();
                return false;
            }
            ::unlink(link_.c_str());
        }
        if (::symlink(path_.c_str(), link_.c_str()) != 0) {
            error = ErrnoText(link_.c_str());
            link_.clear();
            return false;
        }
    }
    return true;
}

void Simulator::Stop() {
    std::lock_guard stopLock(stopMutex_);
    stopping_ = true;
    if (thread_.joinable()) {
        const char wake = 'x';
        (void)!::write(wakeWrite_, &wake, 1);
        thread_.join();
    }
    {
        std::lock_guard lock(mutex_);
        CloseFd(master_);
        CloseFd(slave_);
        pending_.clear();
        output_.clear();
    }
    CloseFd(closeWatch_);
    CloseFd(wakeRead_);
    CloseFd(wakeWrite_);
    RemoveLink();
}

void Simulator::RemoveLink() {
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
    *out << FormatTraceLine(when - started_, incoming ? Direction::In : Direction::Out, bytes)
         << std::endl;
}

void Simulator::Serve() {
    while (!stopping_) {
        std::array<pollfd, 3> fds{};
        fds[0] = {wakeRead_, POLLIN, 0};
        fds[2] = {closeWatch_, POLLIN, 0};
        nfds_t count = 1;
        int timeoutMs = -1;
        {
            std::lock_guard lock(mutex_);
            if (master_ >= 0) {
                const short events = output_.empty() ? POLLIN : POLLIN | POLLOUT;
                fds[1] = {master_, events, 0};
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
            while (::read(wakeRead_, drain.data(), drain.size()) > 0) {
            }
        }
        if (stopping_) {
            break;
        }
        std::lock_guard lock(mutex_);
        if (count == 3 && (fds[2].revents & POLLIN) != 0) {
            ClientClosed();
        }
        if (count == 3 && master_ >= 0) {
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
    const ssize_t n = ::read(master_, buffer.data(), buffer.size());
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
        if (master_ < 0) {
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
    while (master_ >= 0 && !output_.empty()) {
        const ssize_t n = ::write(master_, output_.data(), output_.size());
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
    std::array<char, 4096> events;
    while (::read(closeWatch_, events.data(), events.size()) > 0) {
    }
    struct stat info {};
    if (slave_ < 0 || ::fstat(slave_, &info) != 0 ||
        !FindDeviceHolders(info.st_rdev, slave_, true).holders.empty()) {
        return;  // a client still has the line
    }
    // The last client is gone: its exclusive-use flag and the request it left half sent must
    // not reach the next one. Scheduled replies still go out (a switch-on completes as on the
    // amplifier); a client purges the line when it opens it.
    (void)::ioctl(slave_, TIOCNXCL);
    parser_.Reset();
}

void Simulator::HangUp() {
    // Closing the master hangs the line up: the client's descriptor reports POLLHUP and
    // its reads and writes fail from then on.
    CloseFd(master_);
    CloseFd(slave_);
    pending_.clear();
    output_.clear();
    hungUp_ = true;
}

}  // namespace k5::sim
