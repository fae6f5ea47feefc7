#pragma once

#include <cstdint>
#include <string>

namespace k5::veldra {

// The warm-up page's state: the progress line with its dots, the ten-minute countdown and
// the outcome text. Its two one-second timers are the caller's: TickDots() and
// TickCountdown() are what they do on each tick. The Qt page shows the three texts; k5ctl
// prints the countdown.
class WarmUpPageModel {
public:
    static constexpr int kMaxDots = 20;
    static constexpr int kMinutes = 10;

    // The page is entered: the progress line restarts and the dots timer should run.
    void Show();
    // The countdown's length in minutes, 10 unless a caller shortens it (the headless runner's
    // --minutes, tests); the page texts stay as they are.
    void SetCountdownMinutes(int minutes) { countdownMinutes_ = minutes < 0 ? 0 : minutes; }
    // A warm-up event forwarded by the frame (14, 15, 16); other codes change nothing.
    void Apply(uint32_t code);
    // One tick of the dots timer.
    void TickDots();
    // One tick of the countdown timer. True on the tick after 00 : 00: the page then sends
    // kWarmUpFinished to the frame and the countdown timer stops.
    bool TickCountdown();

    const std::string& ProgressLine() const { return progress_; }
    const std::string& Countdown() const { return countdown_; }
    const std::string& Outcome() const { return outcome_; }
    bool DotsRunning() const { return dotsRunning_; }
    bool CountdownRunning() const { return countdownRunning_; }
    int Minutes() const { return minutes_; }
    int Seconds() const { return seconds_; }

private:
    std::string progress_;
    std::string countdown_;
    std::string outcome_;
    int countdownMinutes_ = kMinutes;
    int dots_ = 0;
    int minutes_ = 0;
    int seconds_ = 0;
    bool dotsRunning_ = false;
    bool countdownRunning_ = false;
};

}  // namespace k5::veldra
