#include "cli/k5ctl_commands.h"

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "cli/interrupt_watch.h"
#include "cli/k5ctl_ports.h"
#include "cli/k5ctl_wizard.h"
#include "devlink/cancel_event.h"
#include "devlink/commands.h"
#include "devlink/config_settings.h"
#include "devlink/device_link.h"
#include "devlink/serial_comm.h"
#include "torvik/configuration.h"
#include "torvik/configuration_report.h"
#include "torvik/result_texts.h"
#include "torvik/service_operations.h"

namespace k5::cli {

namespace {

void Print(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

// Shows the log as the window's pane would hold it, and keeps it for the report.
class PrintingObserver : public torvik::ConfigurationObserver {
public:
    explicit PrintingObserver(std::FILE* out) : out_(out) {}

    void AppendLog(std::string_view text) override {
        log_.append(text);
        Print(out_, text);
    }
    void Complete(int resultCode) override { result_ = resultCode; }

    const std::string& Log() const { return log_; }
    std::optional<int> Result() const { return result_; }

private:
    std::FILE* out_;
    std::string log_;
    std::optional<int> result_;
};

int Configure(const Options& options, DeviceLink& link, std::FILE* out, std::FILE* err) {
    ConfigSettings settings;
    settings.PutUserSettings(options.settings);
    PrintingObserver observer(out);

    // Ctrl-C acts as the window's Stop: it marks the run stopped before signalling the event,
    // and a result the run sends after that is ignored.
    std::mutex mutex;
    bool finished = false;
    bool stopped = false;
    bool wasStopped = false;
    {
        InterruptWatch watch([&] {
            std::lock_guard lock(mutex);
            if (!finished) {
                stopped = true;
                link.Cancel().Set();
            }
        });
        torvik::RunConfiguration(link, settings, observer);
        std::lock_guard lock(mutex);
        finished = true;
        wasStopped = stopped;
    }

    // A run ends without a result only when a wait saw the stop.
    if (wasStopped || !observer.Result()) {
        observer.AppendLog(torvik::kCancelledText);
        return kExitCancelled;
    }
    const int result = *observer.Result();
    if (result != torvik::kResultSuccess) {
        observer.AppendLog(torvik::CompletionText(result));
        return result;
    }
    if (!options.reportPath.empty()) {
        const torvik::ReportResult saved =
            torvik::SaveConfigurationReport(options.reportPath, observer.Log());
        if (saved != torvik::ReportResult::SaveDataOk) {
            Print(err,
                  std::string(torvik::ReportResultText(saved)) + ": " + options.reportPath + "\n");
            return kExitReportFailed;
        }
    }
    return kExitOk;
}

}  // namespace

int RunCommand(const Options& options, std::FILE* out, std::FILE* err) {
    switch (options.command) {
        case Command::Help:
            Print(out, UsageText());
            return kExitOk;
        // The wizard's procedures open the port themselves, through detection.
        case Command::Detect:
            return RunDetectCommand(options, out);
        case Command::WarmUp:
            return RunWarmUpCommand(options, out);
        case Command::Calibrate:
            return RunCalibrateCommand(options, out);
        case Command::Ports:
            return RunPortsCommand(out);
        default:
            break;
    }

    CSerialComm port(static_cast<uint8_t>(options.port));
    SelectAmplifierBaudRate(port);
    port.SetDevicePathOverride(options.device);
    if (!port.Open()) {
        Print(err, "Port error: " + port.LastErrorText() + "\n");
        return kExitPortError;
    }

    CancelEvent cancel;
    DeviceLink link(port, cancel);
    link.SetTimeScale(options.timeScale);

    int status = kExitOk;
    switch (options.command) {
        case Command::LinkTest: {
            const bool ok = link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 0) == 1;
            Print(out, ok ? "Link OK\n" : "Link error\n");
            status = ok ? kExitOk : kExitFailed;
            break;
        }
        case Command::Configure:
            status = Configure(options, link, out, err);
            break;
        case Command::BurnIn:
            torvik::SetBurnInMode(link, options.burnInOn);
            break;
        case Command::ResetRegisters: {
            const bool ok = torvik::ResetRegistersToDefaults(link);
            Print(out, std::string(torvik::RegisterResetText(ok)) + "\n");
            status = ok ? kExitOk : kExitFailed;
            break;
        }
        default:
            break;
    }
    port.Close();
    return status;
}

}  // namespace k5::cli
