#include "veldra/page_flow.h"

#include "veldra/frame_reaction.h"

namespace k5::veldra {

NextStep NextFrom(unsigned current, bool warmedUp) {
    // Next on the warm-up page comes after a cancelled warm-up: it starts the calibration.
    const unsigned next = current == kPageWarmUp ? kPageWarmUp : current + 1;
    if (next == kPageDetection) {
        return {kPageDetection, kButtonExit, true, WizardWorker::Detection};
    }
    if (next == kPageWarmUp) {
        return warmedUp ? NextStep{kPageCalibration, kButtonExit, false, WizardWorker::Calibration}
                        : NextStep{kPageWarmUp, 0, false, WizardWorker::WarmUp};
    }
    return {next, std::nullopt, false, WizardWorker::None};
}

unsigned PreviousFrom(unsigned current) {
    if (current == kPageWarmUp || current == kPageCalibration) {
        return kPagePreparation;
    }
    return current - 1;
}

ShownPage ShowingPage(unsigned index, unsigned current) {
    if (index >= kPageCount) {
        return {kPageCount, kButtonPrevious | kButtonExit};
    }
    if (index <= kPageWelcome) {
        return {kPageWelcome, kButtonNext | kButtonExit};
    }
    return {current, kButtonPrevious | kButtonNext | kButtonExit};
}

}  // namespace k5::veldra
