#include "cli/k5ctl_wizard.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "cli/next_step_notes.h"
#include "cli/run_record.h"
#include "devlink/commands.h"
#include "devlink/config_settings.h"
#include "platform/utf8_path.h"
#include "serialport/com_port.h"
#include "veldra/calibration.h"
#include "veldra/calibration_page_model.h"
#include "veldra/detect_page_model.h"
#include "veldra/detection.h"
#include "veldra/event_codes.h"
#include "veldra/frame_reaction.h"
#include "veldra/page_texts.h"
#include "veldra/warm_up.h"
#include "veldra/warm_up_page_model.h"
#include "veldra/wizard_link.h"
#include "worker/worker_event_queue.h"
#include "worker/worker_runner.h"

namespace k5::cli {

namespace {

using Clock = std::chrono::steady_clock;

void PrintPageText(TextSink& out, std::string_view pageText) {
    Print(out, veldra::ToLineFeeds(pageText));
}

// One wizard session: the port record and cancel event, the worker thread and the queue
// its reports arrive on.
class Session {
public:
    Session(const Options& options, const UnitRun& run)
        : options_(options),
          out_(run.out),
          err_(run.err),
          stopping_(run.stop, [this] { queue_.Interrupt(); }) {
        wizard_.Link().SetTimeScale(options.timeScale);
        // A device path is a chosen port under another name: opened directly, never searched.
        wizard_.Port().SetDevicePathOverride(options.device);
        wizard_.Link().SetPauseWatcher(run.pauses);
    }
    ~Session() {
        runner_.Stop();
        wizard_.Port().Close();
    }

    // Runs detection as the wizard's detection page shows it and returns the exit status:
    // kExitOk when a K5 was found. The result code is kept for Result().
    int Detect(bool warmedUp) {
        veldra::DetectPageModel page;
        page.Show();
        PrintPageText(out_, page.Text());
        const unsigned port = options_.device.empty() ? options_.port : kDevicePortNumber;
        const veldra::DetectionRequest request{port, warmedUp, {}};
        runner_.Start([this, request](WorkerObserver& reporter) {
            veldra::RunDetection(wizard_.Link(), request, reporter);
        });
        for (;;) {
            WorkerEvent event;
            if (queue_.WaitUntil(std::nullopt, event) == WorkerEventQueue::Wake::Interrupt) {
                runner_.Stop();
                return kExitCancelled;
            }
            if (!runner_.Accept(event) || event.message != veldra::kMsgDetectDone) {
                continue;
            }
            runner_.Finish();
            // A port that could not be opened ran no detection: the record keeps no code.
            if (event.code != veldra::kDetectOpenFailed) {
                result_ = static_cast<int>(event.code);
            }
            if (event.code != veldra::kDetectNoneFound) {
                searchedPort_ = event.param;
            }
            const size_t before = page.Text().size();
            page.Apply(event.code, event.param);
            PrintPageText(out_,
                          NameTheLine(std::string_view(page.Text()).substr(before), event.param));
            if (!page.Text().ends_with('\r')) {
                Print(out_, "\n");  // the found text ends its paragraph without a break
            }
            Print(err_, NoteAfterDetection(options_, event.code));
            switch (event.code) {
                case veldra::kDetectFound:
                    return kExitOk;
                case veldra::kDetectOpenFailed:
                    Print(err_, "Port error: " + wizard_.Port().LastErrorText() + "\n");
                    Print(err_, NoteAfterPortError(options_, wizard_.Port().LastError()));
                    return kExitPortError;
                case veldra::kDetectNoK5:
                    return kExitNoK5;
                case veldra::kDetectNotPoweredOn:
                    return kExitNotPoweredOn;
                default:
                    return kExitNoneFound;
            }
        }
    }

    // The warm-up and its countdown. At the end of the countdown the worker is stopped; a
    // warm-up run on its own then turns the amplifier down and mutes it, while one that leads
    // into the calibration leaves it playing, as the wizard does.
    int WarmUp(int minutes, bool calibrationFollows) {
        veldra::WarmUpPageModel page;
        page.SetCountdownMinutes(minutes);
        page.Show();
        PrintPageText(out_, page.ProgressLine() + "\n");
        runner_.Start(
            [this](WorkerObserver& reporter) { veldra::RunWarmUp(wizard_.Link(), reporter); });
        // The countdown ticks on whole seconds from its start, so it does not drift.
        std::optional<Clock::time_point> nextTick;
        for (;;) {
            WorkerEvent event;
            switch (queue_.WaitUntil(nextTick, event)) {
                case WorkerEventQueue::Wake::Interrupt:
                    // As the wizard's confirmed Exit: stop the worker, then cancel in its stead.
                    runner_.Stop();
                    return EndWarmUp(page, veldra::kWarmUpCancelled, kExitCancelled);
                case WorkerEventQueue::Wake::Timeout: {
                    *nextTick += std::chrono::seconds(1);
                    if (page.TickCountdown()) {
                        runner_.Stop();
                        out_.CountdownEnds();
                        result_ = static_cast<int>(veldra::kWarmUpFinished);
                        PrintPageText(out_, page.Outcome() + "\n");
                        Print(err_, NoteAfterWarmUpEnd(options_, veldra::kWarmUpFinished));
                        if (!calibrationFollows) {
                            MuteAfterWarmUp();
                        }
                        return kExitOk;
                    }
                    if (page.Seconds() == 0) {
                        PrintPageText(out_, page.Countdown() + "\n");
                    }
                    break;
                }
                case WorkerEventQueue::Wake::Event:
                    if (!runner_.Accept(event) || event.message != veldra::kMsgWarmUpEvent) {
                        break;
                    }
                    if (event.code == veldra::kWarmUpRunning) {
                        page.Apply(event.code);
                        PrintPageText(out_, page.ProgressLine() + page.Countdown() + "\n");
                        Print(err_, NoteAfterWarmUpStart(options_));
                        const Clock::time_point started = Clock::now();
                        nextTick = started + std::chrono::seconds(1);
                        out_.CountdownBegins(started + std::chrono::minutes(minutes),
                                             std::chrono::minutes(minutes));
                    } else if (event.code == veldra::kWarmUpError ||
                               event.code == veldra::kWarmUpCancelled) {
                        runner_.Finish();
                        return EndWarmUp(
                            page, event.code,
                            event.code == veldra::kWarmUpError ? kExitWarmUpError : kExitCancelled);
                    }
                    break;
            }
        }
    }

    // The calibration. A stop makes the worker end with its own final code, whose page text
    // is still printed; the exit status is then kExitCancelled. A stop after the final
    // report is too late: the calibration's own status stands.
    int Calibrate() {
        veldra::CalibrationPageModel page;
        page.Show();
        PrintPageText(out_, page.Log());
        runner_.Start([this](WorkerObserver& reporter) {
            veldra::RunCalibration(wizard_.Link(), calib_, reporter, figures_);
        });
        for (;;) {
            WorkerEvent event;
            if (queue_.WaitUntil(std::nullopt, event) == WorkerEventQueue::Wake::Interrupt) {
                // The worker sees the stop at its next wait and ends with its own code, which
                // this loop still prints.
                wizard_.Cancel().Set();
                continue;
            }
            if (!runner_.Accept(event) || event.message != veldra::kMsgCalibProgress) {
                continue;
            }
            const size_t before = page.Log().size();
            page.Apply(event.code);
            PrintPageText(out_, std::string_view(page.Log()).substr(before));
            if (!veldra::IsFinalCalibCode(event.code)) {
                continue;
            }
            // Its final report is the worker's last act; the wait also clears a stop that
            // came too late for any of its waits.
            runner_.Stop();
            React(event);
            result_ = static_cast<int>(event.code);
            Print(out_, "\nProgress: " + std::to_string(page.Position()) + "%\n");
            if (queue_.StoppedBeforeFinalReport()) {
                return kExitCancelled;
            }
            return event.code == veldra::kCalibComplete ? kExitOk : static_cast<int>(event.code);
        }
    }

    std::optional<int> Result() const { return result_; }

    // The line for the record: the device opened (or tried) and its COM number; neither after
    // a search that found nothing or was stopped.
    void PutLine(RunRecord& record) const {
        if (!options_.device.empty()) {
            record.SetLine(options_.device, std::nullopt);
        } else if (options_.port != 0 || searchedPort_) {
            const unsigned port =
                options_.port != 0 ? options_.port : static_cast<unsigned>(*searchedPort_);
            record.SetLine(ComPortDevicePath(static_cast<uint8_t>(port)), port);
        }
    }

    // What the calibration measured and calculated, as far as it got; read once its worker
    // has ended.
    MeasuredValues Measured() const {
        MeasuredValues values;
        values.left = figures_.left;
        values.right = figures_.right;
        if (!figures_.calculated) {
            return values;
        }
        const veldra::CalibrationValues& calculated = *figures_.calculated;
        values.coeff0 = figures_.coeff0;
        values.coeff1 = calculated.coeff1;
        values.coeff2 = calculated.coeff2;
        values.calcPmax = calculated.calcPmax;
        values.calcPc = calculated.calcPc;
        values.calcIp = calculated.calcIp;
        values.stmax = calculated.stmax;
        values.stpte = calculated.stpte;
        values.stclip = calculated.stclip;
        return values;
    }

private:
    // The port number a --device line is probed under; the texts name the path instead.
    static constexpr unsigned kDevicePortNumber = 1;

    // With --device, the detection texts name the device where they would name its COM port.
    std::string NameTheLine(std::string_view text, int32_t port) const {
        std::string named(text);
        if (options_.device.empty()) {
            return named;
        }
        const std::string com = "COM" + std::to_string(port) + ".";
        if (const size_t at = named.find(com); at != std::string::npos) {
            named.replace(at, com.size(), options_.device + ".");
        }
        return named;
    }

    int EndWarmUp(veldra::WarmUpPageModel& page, uint32_t code, int status) {
        out_.CountdownEnds();
        result_ = static_cast<int>(code);
        React(WorkerEvent{veldra::kMsgWarmUpEvent, code, 0, 0});
        page.Apply(code);
        PrintPageText(out_, page.Outcome());
        Print(err_, NoteAfterWarmUpEnd(options_, code));
        return status;
    }

    // The frame's mute commands, once the worker has stopped, with what the amplifier said.
    void MuteAfterWarmUp() {
        DeviceLink& link = wizard_.Link();
        const bool turnedDown = link.SendCommand(cmd::kVolumeMinus20, cmd::kVolumeMinus20, 5) == 1;
        const bool muted = link.SendCommand(cmd::kMuteOn, cmd::kMuteOn, 5) == 1;
        Print(out_, turnedDown && muted
                        ? "The K5 is muted (volume -20 dB, mute on).\n"
                        : "The K5 did not confirm the mute (volume -20 dB, mute on).\n");
    }

    // What the wizard's frame does with the port on a final event.
    void React(const WorkerEvent& event) {
        const veldra::FrameReaction reaction = veldra::ReactionTo(event);
        if (reaction.mute) {
            veldra::MuteAmplifier(wizard_.Link());
        }
        if (reaction.closePort) {
            wizard_.Port().Close();
        }
    }

    const Options& options_;
    TextSink& out_;
    TextSink& err_;
    veldra::WizardLink wizard_;
    // A stop counts until the calibration's final report has come.
    WorkerEventQueue queue_{[](const WorkerEvent& event) {
        return event.message == veldra::kMsgCalibProgress && veldra::IsFinalCalibCode(event.code);
    }};
    WorkerRunner runner_{wizard_.Cancel(), queue_};
    const StopHub::Subscription stopping_;
    ConfigSettings calib_;
    veldra::CalibrationFigures figures_;
    std::optional<int> result_;
    std::optional<int32_t> searchedPort_;
};

// The production record of one command and its file, opened before the session touches any
// line: a file that cannot be written ends the command at once.
struct Recording {
    LockedAppendFile* file = nullptr;
    std::optional<RunRecord> record;

    Recording(const UnitRun& run, std::string_view command, const Options& options)
        : file(run.recordFile) {
        if (file != nullptr) {
            record.emplace(command, options.identity);
        }
    }
};

// Adds the record when one is asked for; returns the exit status.
int Conclude(const Session& session, Recording& recording, int status, bool calibration,
             TextSink& err) {
    if (!recording.record) {
        return status;
    }
    RunRecord& record = *recording.record;
    session.PutLine(record);
    record.SetResult(session.Result());
    if (calibration) {
        record.SetMeasured(session.Measured(), false);
    }
    return record.Finish(*recording.file, status, err);
}

}  // namespace

int RunDetectCommand(const Options& options, const UnitRun& run) {
    Recording recording(run, "detect", options);
    Session session(options, run);
    const int status = session.Detect(options.warmedUp);
    return Conclude(session, recording, status, false, run.err);
}

int RunWarmUpCommand(const Options& options, const UnitRun& run) {
    Recording recording(run, "warm-up", options);
    Session session(options, run);
    int status = session.Detect(false);
    if (status == kExitOk) {
        status = session.WarmUp(options.minutes, false);
    }
    return Conclude(session, recording, status, false, run.err);
}

int RunCalibrateCommand(const Options& options, const UnitRun& run) {
    Recording recording(run, "calibrate", options);
    Session session(options, run);
    // Calibrating at once is the wizard's path for an amplifier said to be warmed up, so
    // detection also asks that it is powered on; a cold one is warmed up first, and then
    // the power state is not asked.
    int status = session.Detect(!options.warmUpFirst);
    if (status == kExitOk && options.warmUpFirst) {
        status = session.WarmUp(options.minutes, true);
    }
    if (status == kExitOk) {
        status = session.Calibrate();
    }
    return Conclude(session, recording, status, true, run.err);
}

}  // namespace k5::cli
