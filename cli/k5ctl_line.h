#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "cli/k5ctl_options.h"
#include "cli/line_files.h"
#include "cli/text_sink.h"

namespace k5::cli {

// Runs the command of `options` on each unit of options.line at once, each on a thread of its
// own with its own session, exactly as a run of that unit alone (RunUnit). On a terminal
// `out` shows a live line per unit; otherwise every line of each unit's output goes out whole,
// prefixed with its port or device. A summary table follows. Exit 0 when every unit
// succeeded, kExitCancelled when a stop ended any, kExitSomeFailed otherwise. Call it before
// the process starts other threads (it watches for Ctrl-C).
int RunLine(const Options& options, std::FILE* out, std::FILE* err);

// Looks up the ID of each unit in the --units file, if one is given. kExitOk, or kExitUsage
// after saying why on `err`.
int ApplyUnitsFile(Options& options, TextSink& err);

// Opens the --log-dir file of the unit on `port` or `device`, making the folder if missing;
// null after saying why on `err`.
std::unique_ptr<UnitLogFile> OpenUnitLog(const std::string& folder, unsigned port,
                                         const std::string& device, TextSink& err);

// A unit's log: what it writes goes to `out` and, when there is one, to its --log-dir file.
// The first failed write to the file is told on `err`; the run goes on.
class LoggedSink final : public TextSink {
public:
    LoggedSink(TextSink& out, UnitLogFile* file, TextSink& err)
        : out_(out), file_(file), err_(err) {}
    void Write(std::string_view text) override;
    void CountdownBegins(Clock::time_point end, std::chrono::seconds total) override {
        out_.CountdownBegins(end, total);
    }
    void CountdownEnds() override { out_.CountdownEnds(); }

private:
    TextSink& out_;
    UnitLogFile* file_;
    TextSink& err_;
};

}  // namespace k5::cli
