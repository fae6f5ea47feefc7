#include "veldra/frame_reaction.h"

#include "veldra/event_codes.h"

namespace k5::veldra {

namespace {

constexpr int kPreviousExit = kButtonPrevious | kButtonExit;
constexpr int kAll = kButtonPrevious | kButtonNext | kButtonExit;

FrameReaction Detection(uint32_t code) {
    FrameReaction r;
    r.endWorker = true;
    if (code > kLastDetectCode) {
        return r;
    }
    r.forward = true;
    if (code == kDetectFound) {
        r.buttons = kAll;
        r.takePort = true;
    } else {
        r.buttons = kPreviousExit;
    }
    return r;
}

FrameReaction Calibration(uint32_t code) {
    FrameReaction r;
    if (code > kLastCalibCode) {
        return r;
    }
    r.forward = true;
    if (!IsFinalCalibCode(code)) {
        return r;
    }
    r.mute = code != kCalibComplete;
    // A cancel comes from closing the wizard: the buttons stay as they are.
    if (code != kCalibCancelled) {
        r.buttons = kPreviousExit;
    }
    r.endWorker = true;
    r.closePort = true;
    return r;
}

FrameReaction WarmUp(uint32_t code) {
    FrameReaction r;
    switch (code) {
        case kWarmUpError:
            r.mute = true;
            r.forward = true;
            r.buttons = kPreviousExit;
            r.endWorker = true;
            r.closePort = true;
            break;
        case kWarmUpCancelled:
            r.mute = true;
            r.forward = true;
            r.buttons = kAll;
            r.setWarmedUp = true;
            break;
        case kWarmUpRunning:
            r.forward = true;
            r.buttons = kButtonExit;
            break;
        case kWarmUpFinished:
            r.stopWorker = true;
            r.setWarmedUp = true;
            break;
        default:
            break;
    }
    return r;
}

}  // namespace

FrameReaction ReactionTo(uint32_t message, uint32_t code) {
    switch (message) {
        case kMsgDetectDone:
            return Detection(code);
        case kMsgCalibProgress:
            return Calibration(code);
        case kMsgWarmUpEvent:
            return WarmUp(code);
        default:
            return {};
    }
}

}  // namespace k5::veldra
