#pragma once

#include <cstdio>
#include <memory>
#include <optional>

#include "cli/k5ctl_options.h"
#include "cli/stop_hub.h"
#include "cli/text_sink.h"
#include "devlink/device_link.h"
#include "platform/locked_append_file.h"

namespace k5::cli {

// Opens the line named by `options`, runs its command and returns the exit status. What the
// command shows goes to `out`, diagnostics to `err`. A command on a line watches for Ctrl-C
// while it runs (see InterruptWatch), so it must be called before the process starts other
// threads. A line of several units runs them all at once (see RunLine).
int RunCommand(const Options& options, std::FILE* out, std::FILE* err);

// What one unit's run is given: where its texts go, the stop it obeys as the Stop button, and
// the files of --json and --report, opened before anything went on a line (null: not asked
// for; shared by every unit of a line, each record and report added in one write).
struct UnitRun {
    TextSink& out;
    TextSink& err;
    StopHub& stop;
    LockedAppendFile* recordFile = nullptr;
    LockedAppendFile* reportFile = nullptr;
    // Told of the link's pauses: a unit alone shows the time left of a long one on a
    // terminal; null on a line of several.
    PauseWatcher* pauses = nullptr;
};

// Runs the command of `options` on its one unit (options.port or options.device) and returns
// its exit status; the same run, byte for byte, whether it is alone or one of a line.
int RunUnit(const Options& options, const UnitRun& run);

// The files of --json and --report, opened. Null (after saying why on `err`, and, when the
// report cannot be opened, adding a record that says so) when one cannot be; `status` is then
// the exit status.
struct RunFiles {
    std::unique_ptr<LockedAppendFile> record;
    std::unique_ptr<LockedAppendFile> report;
};
std::optional<RunFiles> OpenRunFiles(const Options& options, TextSink& err, int& status);

}  // namespace k5::cli
