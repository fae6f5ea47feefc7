#pragma once

#include "cli/k5ctl_commands.h"
#include "cli/k5ctl_options.h"

namespace k5::cli {

// The calibration wizard's procedures without its windows: each runs the wizard's worker
// on a thread of its own, as the wizard does, and prints the wizard's page texts with their
// "\n\r" line breaks written as line feeds on run.out; diagnostics go to run.err. run.stop
// acts as the wizard's Stop. With run.recordFile set, each adds its production record to it.

// detect: exit 0 when a K5 was found, otherwise the detection's own exit status.
int RunDetectCommand(const Options& options, const UnitRun& run);
// warm-up: detection, then the warm-up worker under a countdown of options.minutes; the
// amplifier is muted when the countdown ends.
int RunWarmUpCommand(const Options& options, const UnitRun& run);
// calibrate: detection of a powered K5, then the calibration; exit 0 or its final code.
// With options.warmUpFirst: detection, the warm-up, then the calibration.
int RunCalibrateCommand(const Options& options, const UnitRun& run);

}  // namespace k5::cli
