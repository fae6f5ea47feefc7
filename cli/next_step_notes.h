#pragma once

#include <cstdint>
#include <string>

#include "cli/k5ctl_options.h"
#include "serialport/serial_port.h"

namespace k5::cli {

// The lines k5ctl adds on standard error where the wizard's page text, printed unchanged on
// standard output, speaks of a button that k5ctl does not have or of the ten minutes that
// --minutes changed: each says what k5ctl does instead. Every one starts with "k5ctl: " and
// ends its line; an empty string where the page text needs none.

// After the detection's result text (an event code of the detection).
std::string NoteAfterDetection(const Options& options, uint32_t code);
// After "Warming up will run for 10 minutes... please press Exit."
std::string NoteAfterWarmUpStart(const Options& options);
// After the warm-up's outcome text (an event code of the warm-up, or its countdown's end).
std::string NoteAfterWarmUpEnd(const Options& options, uint32_t code);

// After "Port error: <reason>": which port or option it concerns and what to do about it,
// where the reason alone does not say.
std::string NoteAfterPortError(const Options& options, PortError error);

}  // namespace k5::cli
