#include "torvik/control_states.h"

namespace k5::torvik {

ControlStates ControlStatesFor(bool portOpen, bool running) {
    const bool idle = !running;
    return {
        .portList = idle && !portOpen,
        .openClose = idle,
        .testLink = idle && portOpen,
        .userSettings = idle,
        .status = idle,
        .startStop = portOpen,
        .clear = true,
        .burnIn = idle,
        .openCaption = portOpen ? "Close" : "Open",
        .startCaption = running ? "Stop" : "Start",
    };
}

}  // namespace k5::torvik
