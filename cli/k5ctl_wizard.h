#pragma once

#include <cstdio>

#include "cli/k5ctl_options.h"

namespace k5::cli {

// The calibration wizard's procedures without its windows: each runs the wizard's worker
// on a thread of its own, as the wizard does, and prints the wizard's page texts with their
// "\n\r" line breaks written as line feeds. Ctrl-C is watched while they run, so they must
// be called before the process starts other threads.

// detect: exit 0 when a K5 was found, otherwise kExitDetectBase + the result code.
int RunDetectCommand(const Options& options, std::FILE* out);
// warm-up: detection, then the warm-up worker under a countdown of options.minutes.
int RunWarmUpCommand(const Options& options, std::FILE* out);
// calibrate: detection of a powered K5, then the calibration; exit 0 or its final code.
int RunCalibrateCommand(const Options& options, std::FILE* out);

}  // namespace k5::cli
