#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "cli/text_sink.h"
#include "devlink/device_link.h"

namespace k5::cli {

enum class WaitKind {
    SwitchingOn,  // a long pause of the link: the amplifier coming out of standby
    WarmUp,       // the warm-up's countdown
};

// "k5ctl: switching on, 12 s left", "k5ctl: warm-up 9:41 left": whole seconds, rounded up.
std::string CountdownText(WaitKind kind, std::chrono::milliseconds left);

// A live line on a terminal with the time left of a wait: drawn where the cursor stands (a
// page text may have left it in mid-line, as configure's "Initializing K5..." does), redrawn in
// place once a second by a helper thread that sleeps in between, and erased when the wait
// ends, so that what follows on the terminal reads as it would without it. On anything but a
// live terminal (see IsLiveTerminal) it writes nothing at all.
// As the link's PauseWatcher it shows each pause longer than two seconds; the only such
// pauses are the amplifier's switch-on.
class CountdownLine final : public PauseWatcher {
public:
    static constexpr std::chrono::milliseconds kLongestUnshownWait{2000};

    explicit CountdownLine(std::FILE* stream);
    ~CountdownLine() override;
    CountdownLine(const CountdownLine&) = delete;
    CountdownLine& operator=(const CountdownLine&) = delete;

    // Shows a wait of `length` from now, ending one shown before.
    void Start(WaitKind kind, std::chrono::milliseconds length);
    // Erases the line; nothing when no wait is shown.
    void Stop();
    // Erases the line while `print` writes to the same terminal, then draws it again below.
    void Above(const std::function<void()>& print);

    void PauseBegins(std::chrono::milliseconds length) override;
    void PauseEnds() override;

private:
    using Clock = std::chrono::steady_clock;

    void Redraw();
    void Erase();
    void Write(const std::string& text);
    void Tick();

    std::FILE* stream_;   // nullptr: not a live terminal
    std::mutex control_;  // Start and Stop, which may come from two threads
    std::mutex mutex_;    // what is drawn
    std::condition_variable wake_;
    std::thread ticker_;
    WaitKind kind_ = WaitKind::SwitchingOn;
    Clock::time_point start_;
    Clock::time_point deadline_;
    bool running_ = false;
    bool drawn_ = false;
    bool pauseShown_ = false;
};

// A unit's standard output when it runs alone: every text is written above the live line (which
// is erased and drawn again after it), and the warm-up's countdown is shown on it.
class CountdownSink final : public TextSink {
public:
    CountdownSink(TextSink& out, CountdownLine& line) : out_(out), line_(line) {}
    void Write(std::string_view text) override {
        line_.Above([&] { out_.Write(text); });
    }
    void CountdownBegins(Clock::time_point /*end*/, std::chrono::seconds total) override {
        line_.Start(WaitKind::WarmUp, total);
    }
    void CountdownEnds() override { line_.Stop(); }

private:
    TextSink& out_;
    CountdownLine& line_;
};

}  // namespace k5::cli
