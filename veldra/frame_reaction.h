#pragma once

#include <cstdint>
#include <optional>

#include "worker/worker_observer.h"

namespace k5::veldra {

// Button masks of the frame: 4 Previous, 2 Next, 1 Exit.
inline constexpr int kButtonPrevious = 4;
inline constexpr int kButtonNext = 2;
inline constexpr int kButtonExit = 1;

// What the frame does with a worker's event once it has accepted it, in this order: end the
// worker that sent a final report (joining it), mute, forward to the page, set the buttons,
// take the port, set the warmed-up flag, stop the worker, close the port.
struct FrameReaction {
    bool endWorker = false;  // a final report: WorkerRunner::Finish before anything else
    bool mute = false;       // MuteAmplifier
    bool forward = false;    // to the page on show, as kMsgShowDetectResult, ... (same wParam)
    std::optional<int> buttons{};  // new button mask
    bool takePort = false;         // the frame's COM port becomes lParam
    bool setWarmedUp = false;      // the warmed-up flag becomes 1
    bool stopWorker = false;       // WorkerRunner::Stop, then Next (the countdown ran out)
    bool closePort = false;
};

// The frame's answer to a worker event (kMsgDetectDone, kMsgCalibProgress, kMsgWarmUpEvent,
// and the warm-up codes the frame or the page send it). Unknown messages and codes: nothing
// (a detection code above 4 still ends the worker).
FrameReaction ReactionTo(uint32_t message, uint32_t code);
inline FrameReaction ReactionTo(const WorkerEvent& event) {
    return ReactionTo(event.message, event.code);
}

}  // namespace k5::veldra
