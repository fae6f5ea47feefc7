#pragma once

#include <cstdint>

#include "devlink/config_settings.h"
#include "devlink/device_link.h"
#include "veldra/worker_observer.h"

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

}  // namespace k5::veldra
