#include "veldra/calibration_page_model.h"

#include <algorithm>

#include "veldra/event_codes.h"
#include "veldra/page_texts.h"

namespace k5::veldra {

void CalibrationPageModel::Show() {
    log_ = kStartingCalibration;
    Jump(0, 1);
}

void CalibrationPageModel::Jump(int position, int step) {
    position_ = position;
    step_ = step;
}

void CalibrationPageModel::Apply(uint32_t code) {
    log_ += CalibrationStepText(code);
    switch (code) {
        case kCalibInitializing:
            Jump(0, 2);
            break;
        case kCalibMeasuring:
        case kCalibCalculating:
            Jump(code == kCalibMeasuring ? 10 : 30, 5);
            break;
        case kCalibConfiguring:
            Jump(60, 2);
            break;
        case kCalibVerifying:
            Jump(80, 2);
            break;
        case kCalibPoweringOff:
            Jump(98, 2);
            break;
        case kCalibComplete:
            position_ = kMaximum;
            break;
        case kCalibTick:
            // The bar stops at its end rather than wrapping round to the start.
            position_ = std::min(position_ + step_, kMaximum);
            break;
        default:
            break;
    }
}

}  // namespace k5::veldra
