#pragma once

#include <cstdint>
#include <optional>

#include "devlink/config_settings.h"
#include "devlink/device_link.h"
#include "veldra/calibration_math.h"
#include "worker/worker_observer.h"

namespace k5::veldra {

// The calibration worker, on the link's open port. In five steps it puts the amplifier into
// its test state, measures both channels' conductance, calculates STMAX, STPTE and STCLIP,
// writes them, reads them back, locks them and powers the amplifier off, reporting every
// step, every progress tick and one final code with kMsgCalibProgress. Returns that final
// code (kCalibFailed, kCalibCancelled, kCalibBadLoad, kCalibReadBackMismatch,
// kCalibPowerOffFailed or kCalibComplete).
//
// `settings` supplies the user parameters and the conductance registers to measure; the
// in-range readings and the calculated fields are stored back into it as they are reached.
// Nothing else may use the record while the run is active.
uint32_t RunCalibration(DeviceLink& link, ConfigSettings& settings, WorkerObserver& observer);

// What a calibration run measured and calculated, as far as it got.
struct CalibrationFigures {
    std::optional<uint32_t> left;  // a channel's reading, when it was in range
    std::optional<uint32_t> right;
    std::optional<uint32_t> coeff0;  // with `calculated`, once step 3 is done
    std::optional<CalibrationValues> calculated;
};

// As above, also filling `figures` as the values are reached; the owner reads them once the
// worker has ended.
uint32_t RunCalibration(DeviceLink& link, ConfigSettings& settings, WorkerObserver& observer,
                        CalibrationFigures& figures);

}  // namespace k5::veldra
