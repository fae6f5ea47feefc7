#include "cli/countdown_line.h"

#include <string_view>
#include <system_error>

#include "cli/terminal.h"

namespace k5::cli {

namespace {

// The cursor's place is saved where the line starts; each drawing goes back to it and erases
// to the end of the screen, which also takes a line the terminal had to wrap.
constexpr std::string_view kSaveCursor = "\0337";
constexpr std::string_view kBackAndErase = "\0338\033[J";

}  // namespace

std::string CountdownText(WaitKind kind, std::chrono::milliseconds left) {
    const long long ms = left.count() > 0 ? left.count() : 0;
    const long long seconds = (ms + 999) / 1000;
    if (kind == WaitKind::SwitchingOn) {
        return "k5ctl: switching on, " + std::to_string(seconds) + " s left";
    }
    const long long rest = seconds % 60;
    return "k5ctl: warm-up " + std::to_string(seconds / 60) + (rest < 10 ? ":0" : ":") +
           std::to_string(rest) + " left";
}

CountdownLine::CountdownLine(std::FILE* stream)
    : stream_(IsLiveTerminal(stream) ? stream : nullptr) {}

CountdownLine::~CountdownLine() {
    Stop();
}

void CountdownLine::Start(WaitKind kind, std::chrono::milliseconds length) {
    if (stream_ == nullptr) {
        return;
    }
    Stop();
    std::lock_guard control(control_);
    {
        std::lock_guard lock(mutex_);
        kind_ = kind;
        start_ = Clock::now();
        deadline_ = start_ + length;
        running_ = true;
        Write(std::string(kSaveCursor));
        Redraw();
    }
    try {
        ticker_ = std::thread([this] { Tick(); });
    } catch (const std::system_error&) {
        // Without a thread the line keeps its first figure until the wait ends.
    }
}

void CountdownLine::Stop() {
    std::lock_guard control(control_);
    {
        std::lock_guard lock(mutex_);
        if (!running_) {
            return;
        }
        running_ = false;
    }
    wake_.notify_all();
    if (ticker_.joinable()) {
        ticker_.join();
    }
    std::lock_guard lock(mutex_);
    Erase();
}

void CountdownLine::Above(const std::function<void()>& print) {
    std::lock_guard lock(mutex_);
    Erase();
    print();
    if (running_) {
        Write(std::string(kSaveCursor));
        Redraw();
    }
}

void CountdownLine::PauseBegins(std::chrono::milliseconds length) {
    if (length > kLongestUnshownWait) {
        Start(WaitKind::SwitchingOn, length);
        pauseShown_ = true;
    }
}

void CountdownLine::PauseEnds() {
    if (pauseShown_) {
        pauseShown_ = false;
        Stop();
    }
}

// On whole seconds from the start, so that the figure steps evenly.
void CountdownLine::Tick() {
    std::unique_lock lock(mutex_);
    for (int second = 1;; ++second) {
        if (wake_.wait_until(lock, start_ + std::chrono::seconds(second),
                             [this] { return !running_; })) {
            return;
        }
        Redraw();
    }
}

void CountdownLine::Redraw() {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
    Write(std::string(drawn_ ? kBackAndErase : std::string_view()) + " " +
          CountdownText(kind_, left));
    drawn_ = true;
}

void CountdownLine::Erase() {
    if (drawn_) {
        Write(std::string(kBackAndErase));
        drawn_ = false;
    }
}

void CountdownLine::Write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream_);
    std::fflush(stream_);
}

}  // namespace k5::cli
