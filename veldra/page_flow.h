#pragma once

#include <cstdint>
#include <optional>

namespace k5::veldra {

// The wizard's pages, numbered as the frame counts them.
inline constexpr unsigned kPageWelcome = 1;
inline constexpr unsigned kPagePreparation = 2;
inline constexpr unsigned kPagePortSelection = 3;
inline constexpr unsigned kPageDetection = 4;
inline constexpr unsigned kPageWarmUp = 5;
inline constexpr unsigned kPageCalibration = 6;
inline constexpr unsigned kPageCount = 6;

// The worker a step starts.
enum class WizardWorker { None, Detection, WarmUp, Calibration };

// What Next does from a page. The frame, in this order: sets its current page to `page`,
// sets `buttons` when there are any, takes the chosen port from the port-selection page when
// `takeSelectedPort`, starts `worker`, and then shows `page` (ShowingPage), applying the
// page's own buttons only when `buttons` is empty.
struct NextStep {
    unsigned page = 0;
    std::optional<int> buttons{};
    bool takeSelectedPort = false;
    WizardWorker worker = WizardWorker::None;

    friend bool operator==(const NextStep&, const NextStep&) = default;
};

// Next on page `current`: the detection after the port choice; after the detection (and
// after a cancelled warm-up, which stays page 5) the calibration when the K5 is warmed up,
// else the warm-up; otherwise the following page.
NextStep NextFrom(unsigned current, bool warmedUp);

// Previous on page `current`: from the warm-up and the calibration the way back is the
// preparation page, otherwise the page before. The frame closes the port first.
unsigned PreviousFrom(unsigned current);

// Showing page `index`: the frame's current page afterwards (the first and the last page
// pin it, in between it stays `current`) and the buttons the page enables (4 Previous,
// 2 Next, 1 Exit).
struct ShownPage {
    unsigned current = 0;
    int buttons = 0;

    friend bool operator==(const ShownPage&, const ShownPage&) = default;
};
ShownPage ShowingPage(unsigned index, unsigned current);

}  // namespace k5::veldra
