#include "cli/k5ctl_commands.h"

#include <charconv>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "cli/countdown_line.h"
#include "cli/interrupt_watch.h"
#include "cli/k5ctl_examine.h"
#include "cli/k5ctl_line.h"
#include "cli/k5ctl_ports.h"
#include "cli/k5ctl_wizard.h"
#include "cli/next_step_notes.h"
#include "cli/run_record.h"
#include "devlink/commands.h"
#include "devlink/config_settings.h"
#include "devlink/device_link.h"
#include "devlink/serial_comm.h"
#include "k5/version.h"
#include "platform/locked_append_file.h"
#include "platform/utf8_path.h"
#include "serialport/cancel_event.h"
#include "torvik/configuration.h"
#include "torvik/configuration_report.h"
#include "torvik/protection_math.h"
#include "torvik/result_texts.h"
#include "torvik/service_operations.h"

namespace k5::cli {

namespace {

// The number that a "...: %d(0x%x)\n" log line begins with after `prefix`.
std::optional<uint32_t> NumberAfter(std::string_view line, std::string_view prefix) {
    if (!line.starts_with(prefix)) {
        return std::nullopt;
    }
    line.remove_prefix(prefix.size());
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), value);
    if (ec != std::errc() || end == line.data()) {
        return std::nullopt;
    }
    return value;
}

// Shows the log as the window's pane would hold it, keeps it for the report, and notes how
// far the run got for the production record.
class PrintingObserver : public torvik::ConfigurationObserver {
public:
    explicit PrintingObserver(TextSink& out) : out_(out) {}

    void AppendLog(std::string_view text) override {
        log_.append(text);
        Print(out_, text);
        if (auto left = NumberAfter(text, "Left High signal conductance value is: ")) {
            left_ = left;
        } else if (auto right = NumberAfter(text, "Right High signal conductance value is: ")) {
            right_ = right;
        } else if (text.starts_with("\nCoeff0 = ")) {
            reachedCoefficients_ = true;
        } else if (text.starts_with("Calculated Pmax = ")) {
            reachedFields_ = true;
        } else if (text.starts_with("REG STMAX = ")) {
            reachedRegisters_ = true;
        } else if (text.starts_with("Max power at 2ohms is: ")) {
            reachedFigures_ = true;
        }
    }
    void Complete(int resultCode) override { result_ = resultCode; }

    const std::string& Log() const { return log_; }
    std::optional<int> Result() const { return result_; }

    // What the run measured and calculated, up to the point it reached. The values that the
    // run keeps in the record are taken from it; the others are worked out again from the
    // same readings and settings with the run's own arithmetic.
    MeasuredValues Measured(const ConfigSettings& settings) const {
        MeasuredValues values;
        values.left = left_;
        values.right = right_;
        if (!left_ || !right_ || !reachedCoefficients_) {
            return values;
        }
        const uint32_t avg = torvik::AverageConductance(*left_, *right_);
        const torvik::Coefficients coefficients = torvik::CalculateCoefficients(avg);
        values.coeff0 = avg;
        values.coeff1 = coefficients.coeff1;
        values.coeff2 = coefficients.coeff2;
        if (!reachedFields_) {
            return values;
        }
        values.calcPmax = settings.calcPmax;
        values.calcPc = settings.calcPc;
        values.calcIp = settings.calcIp;
        if (!reachedRegisters_) {
            return values;
        }
        uint16_t address = 0;
        uint32_t value = 0;
        settings.GetRegisterEntry(kEntryStmax, address, value);
        values.stmax = value;
        settings.GetRegisterEntry(kEntryStpte, address, value);
        values.stpte = value;
        values.stclip = torvik::ComposeStclip(settings.cp);
        if (!reachedFigures_) {
            return values;
        }
        const torvik::OutputFigures figures = torvik::CalculateOutputFigures(
            avg, coefficients, {settings.calcPmax, settings.calcPc, settings.calcIp},
            settings.pref);
        values.p2 = figures.p2;
        values.p2i = figures.p2i;
        values.p4 = figures.p4;
        return values;
    }

private:
    TextSink& out_;
    std::string log_;
    std::optional<int> result_;
    std::optional<uint32_t> left_;
    std::optional<uint32_t> right_;
    bool reachedCoefficients_ = false;
    bool reachedFields_ = false;
    bool reachedRegisters_ = false;
    bool reachedFigures_ = false;
};

// Ctrl-C, SIGTERM and SIGHUP act as the window's Stop: the run is marked stopped before the
// cancel event is signalled, and a result it sends after that is ignored. A signal after the
// command has finished changes nothing.
class StopSwitch {
public:
    explicit StopSwitch(CancelEvent& cancel) : cancel_(cancel) {}

    void Stop() {
        std::lock_guard lock(mutex_);
        if (!finished_) {
            stopped_ = true;
            cancel_.Set();
        }
    }
    // Ends the command's stoppable part; true if it was stopped.
    bool Finish() {
        std::lock_guard lock(mutex_);
        finished_ = true;
        return stopped_;
    }

private:
    CancelEvent& cancel_;
    std::mutex mutex_;
    bool finished_ = false;
    bool stopped_ = false;
};

struct ConfigureOutcome {
    int status = kExitOk;       // the run's own status
    std::optional<int> result;  // the run's own code; empty when it was stopped
    bool reportFailed = false;  // the report could not be added to its file
};

ConfigureOutcome Configure(DeviceLink& link, ConfigSettings& settings, PrintingObserver& observer,
                           StopSwitch& stop, LockedAppendFile* report, TextSink& err) {
    torvik::RunConfiguration(link, settings, observer);

    // A run ends without a result only when a wait saw the stop.
    if (stop.Finish() || !observer.Result()) {
        observer.AppendLog(torvik::kCancelledText);
        return {kExitCancelled, std::nullopt};
    }
    const int result = *observer.Result();
    if (result != torvik::kResultSuccess) {
        observer.AppendLog(torvik::CompletionText(result));
        return {result, result};
    }
    if (report != nullptr) {
        const std::string text =
            torvik::BuildConfigurationReport(observer.Log(), torvik::CurrentLocalDateTime());
        // The report begins with a line feed of its own.
        if (const std::optional<std::string> failure = report->Append(text, false)) {
            Print(err, std::string(torvik::ReportResultText(torvik::ReportResult::SaveDataFailed)) +
                           ": " + Utf8FromPath(report->Path()) + ": " + *failure + "\n");
            return {kExitOk, result, true};
        }
    }
    return {kExitOk, result};
}

}  // namespace

std::optional<RunFiles> OpenRunFiles(const Options& options, TextSink& err, int& status) {
    // Every file the run adds to is opened first: one that cannot be written ends the command
    // before anything goes on the line.
    RunFiles files;
    if (!options.jsonPath.empty()) {
        files.record = OpenRecordFile(PathFromUtf8(options.jsonPath), err);
        if (!files.record) {
            status = kExitRecordFailed;
            return std::nullopt;
        }
    }
    if (!options.reportPath.empty()) {
        std::string reason;
        files.report = LockedAppendFile::Open(PathFromUtf8(options.reportPath), reason);
        if (!files.report) {
            Print(err, std::string(torvik::ReportResultText(torvik::ReportResult::Failed)) + ": " +
                           options.reportPath + ": " + reason + "\n");
            status = kExitRecordFailed;
            if (files.record) {
                // Only configure takes --report: its record says the run never began.
                RunRecord record("configure", options.identity);
                record.SetSettings(options.settings);
                status = record.Finish(*files.record, kExitRecordFailed, err);
            }
            return std::nullopt;
        }
    }
    return files;
}

int RunCommand(const Options& options, std::FILE* out, std::FILE* err) {
    FileSink outSink(out);
    FileSink errSink(err);
    switch (options.command) {
        case Command::Help:
            Print(outSink, UsageText());
            return kExitOk;
        case Command::Version:
            Print(outSink, std::string("k5ctl ") + kKitVersion + "\n");
            return kExitOk;
        case Command::Ports:
            return RunPortsCommand(out);
        default:
            break;
    }
    if (options.line.size() > 1) {
        return RunLine(options, out, err);
    }
    Options unit = options;
    if (const int status = ApplyUnitsFile(unit, errSink); status != kExitOk) {
        return status;
    }
    int status = kExitOk;
    std::optional<RunFiles> files = OpenRunFiles(unit, errSink, status);
    if (!files) {
        return status;
    }
    // With --log-dir the log also goes, byte for byte, to the unit's file there.
    std::unique_ptr<UnitLogFile> logFile;
    if (!unit.logDir.empty()) {
        logFile = OpenUnitLog(unit.logDir, unit.port, unit.device, errSink);
        if (!logFile) {
            return kExitRecordFailed;
        }
    }
    StopHub stop;
    // Before the port is opened, so that no signal can end the process with the line half
    // written.
    const InterruptWatch watch([&stop] { stop.Stop(); });
    // On a terminal, the time left of the switch-on and of the warm-up.
    CountdownLine countdown(err);
    CountdownSink shown(outSink, countdown);
    LoggedSink logged(shown, logFile.get(), errSink);
    return RunUnit(unit,
                   {logged, errSink, stop, files->record.get(), files->report.get(), &countdown});
}

int RunUnit(const Options& options, const UnitRun& run) {
    switch (options.command) {
        // The wizard's procedures open the port themselves, through detection.
        case Command::Detect:
            return RunDetectCommand(options, run);
        case Command::WarmUp:
            return RunWarmUpCommand(options, run);
        case Command::Calibrate:
            return RunCalibrateCommand(options, run);
        default:
            break;
    }
    TextSink& out = run.out;
    TextSink& err = run.err;
    std::optional<RunRecord> record;
    if (run.recordFile != nullptr) {
        record.emplace(options.command == Command::Inspect ? "inspect" : "configure",
                       options.identity);
        record->SetSettings(options.settings);
    }
    LockedAppendFile* recordFile = run.recordFile;
    LockedAppendFile* reportFile = run.reportFile;

    CancelEvent cancel;
    StopSwitch stop(cancel);
    const StopHub::Subscription stopping(run.stop, [&stop] { stop.Stop(); });

    CSerialComm port(static_cast<uint8_t>(options.port));
    SelectAmplifierBaudRate(port);
    port.SetDevicePathOverride(options.device);
    if (record) {
        record->SetLine(port.DevicePath(), options.device.empty()
                                               ? std::optional<unsigned>(options.port)
                                               : std::nullopt);
    }
    if (!port.Open()) {
        Print(err, "Port error: " + port.LastErrorText() + "\n");
        Print(err, NoteAfterPortError(options, port.LastError()));
        if (!record) {
            return kExitPortError;
        }
        if (options.command == Command::Inspect) {
            RecordInspection(*record, {}, options);
        } else {
            record->SetMeasured({}, true);
        }
        return record->Finish(*recordFile, kExitPortError, err);
    }

    DeviceLink link(port, cancel);
    link.SetTimeScale(options.timeScale);
    link.SetPauseWatcher(run.pauses);

    int status = kExitOk;
    // The run's own status, where the exit status is another: a report that was not written.
    std::optional<int> runStatus;
    switch (options.command) {
        case Command::LinkTest: {
            const bool ok = link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 0) == 1;
            if (stop.Finish()) {
                status = kExitCancelled;
                break;
            }
            Print(out, ok ? "Link OK\n" : "Link error\n");
            status = ok ? kExitOk : kExitFailed;
            break;
        }
        case Command::Configure: {
            ConfigSettings settings;
            settings.PutUserSettings(options.settings);
            PrintingObserver observer(out);
            const ConfigureOutcome outcome =
                Configure(link, settings, observer, stop, reportFile, err);
            status = outcome.status;
            if (outcome.reportFailed) {
                runStatus = status;
                status = kExitRecordFailed;
            }
            if (record) {
                record->SetResult(outcome.result);
                record->SetMeasured(observer.Measured(settings), true);
            }
            break;
        }
        case Command::BurnIn: {
            // The amplifier echoes the mode frame; without the echo the switch is not known
            // to have been made.
            const bool echoed = torvik::SetBurnInMode(link, options.burnInOn);
            if (stop.Finish()) {
                status = kExitCancelled;
                break;
            }
            if (!echoed) {
                Print(err, std::string("k5ctl: burn-in ") + (options.burnInOn ? "on" : "off") +
                               ": the amplifier did not echo the mode frame\n");
                status = kExitFailed;
            }
            break;
        }
        case Command::ResetRegisters: {
            const bool ok = torvik::ResetRegistersToDefaults(link);
            if (stop.Finish()) {
                status = kExitCancelled;
                break;
            }
            Print(out, std::string(torvik::RegisterResetText(ok)) + "\n");
            status = ok ? kExitOk : kExitFailed;
            break;
        }
        case Command::Inspect: {
            const Inspection inspection = ReadAmplifier(link);
            const bool stopped = stop.Finish();
            if (record) {
                RecordInspection(*record, stopped ? Inspection{} : inspection, options);
            }
            if (stopped) {
                status = kExitCancelled;
                break;
            }
            status = PrintInspection(inspection, options, out, err);
            if (record) {
                record->SetResult(status);
            }
            break;
        }
        default:
            break;
    }
    port.Close();
    return record ? record->Finish(*recordFile, status, runStatus.value_or(status), err) : status;
}

}  // namespace k5::cli
