#include "veldra/event_codes.h"

namespace k5::veldra {

bool IsFinalCalibCode(uint32_t code) {
    return code == kCalibFailed || code == kCalibCancelled || code == kCalibBadLoad ||
           code == kCalibReadBackMismatch || code == kCalibPowerOffFailed || code == kCalibComplete;
}

}  // namespace k5::veldra
