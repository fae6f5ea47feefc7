#pragma once

#include <cstdint>
#include <string>

namespace k5::veldra {

// The calibration page's state: the step log and the progress bar (0..100, advanced in
// steps of 2 or 5 by the worker's ticks). The Qt page mirrors Log() and Position(); k5ctl
// prints them.
class CalibrationPageModel {
public:
    static constexpr int kMaximum = 100;

    // The page is entered: a fresh log and the bar at 0 with a step of 1.
    void Show();
    // A calibration event forwarded by the frame. Codes above 13 change nothing.
    void Apply(uint32_t code);

    const std::string& Log() const { return log_; }
    int Position() const { return position_; }
    int Step() const { return step_; }

private:
    void Jump(int position, int step);

    std::string log_;
    int position_ = 0;
    int step_ = 1;
};

}  // namespace k5::veldra
