#pragma once

#include <string_view>

namespace k5::torvik {

// Which of the main window's controls are enabled, and the two captions, in each phase.
struct ControlStates {
    bool portList = false;
    bool openClose = false;
    bool testLink = false;
    bool userSettings = false;
    bool status = false;
    bool startStop = false;
    bool clear = false;
    bool burnIn = false;  // ON and OFF
    std::string_view openCaption;
    std::string_view startCaption;

    friend bool operator==(const ControlStates&, const ControlStates&) = default;
};

// The states follow from two facts: whether the port is open and whether a run is active.
// The port is never closed while a run is active.
ControlStates ControlStatesFor(bool portOpen, bool running);

}  // namespace k5::torvik
