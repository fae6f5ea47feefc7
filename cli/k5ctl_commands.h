#pragma once

#include <cstdio>

#include "cli/k5ctl_options.h"

namespace k5::cli {

// Opens the line named by `options`, runs its command and returns the exit status. What the
// command shows goes to `out`, diagnostics to `err`. Configure watches for Ctrl-C while it
// runs (see InterruptWatch), so it must be called before the process starts other threads.
int RunCommand(const Options& options, std::FILE* out, std::FILE* err);

}  // namespace k5::cli
