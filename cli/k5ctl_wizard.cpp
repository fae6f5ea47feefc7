#include "cli/k5ctl_wizard.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "cli/interrupt_watch.h"
#include "devlink/config_settings.h"
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
#include "veldra/worker_runner.h"

namespace k5::cli {

namespace {

using Clock = std::chrono::steady_clock;
using veldra::WorkerEvent;

void PrintPageText(std::FILE* out, std::string_view pageText) {
    const std::string text = veldra::ToLineFeeds(pageText);
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
}

// Where the worker's reports and Ctrl-C meet the command's own thread, as the wizard's
// message queue does for its frame.
class EventQueue : public veldra::WorkerObserver {
public:
    enum class Wake { Event, Interrupt, Timeout };

    void OnWorkerEvent(const WorkerEvent& event) override {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(event);
        }
        changed_.notify_all();
    }

    void Interrupt() {
        {
            std::lock_guard lock(mutex_);
            interrupted_ = true;
        }
        changed_.notify_all();
    }

    // Waits for the next event, an interrupt not yet taken, or `deadline`.
    Wake WaitUntil(std::optional<Clock::time_point> deadline, WorkerEvent& event) {
        std::unique_lock lock(mutex_);
        auto ready = [this] { return interrupted_ || !events_.empty(); };
        if (deadline) {
            if (!changed_.wait_until(lock, *deadline, ready)) {
                return Wake::Timeout;
            }
        } else {
            changed_.wait(lock, ready);
        }
        if (interrupted_) {
            interrupted_ = false;
            return Wake::Interrupt;
        }
        event = events_.front();
        events_.pop_front();
        return Wake::Event;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<WorkerEvent> events_;
    bool interrupted_ = false;
};

// One wizard session: the port record and cancel event, the worker thread and the queue
// its reports arrive on.
class Session {
public:
    explicit Session(const Options& options, std::FILE* out)
        : out_(out), watch_([this] { queue_.Interrupt(); }) {
        wizard_.Link().SetTimeScale(options.timeScale);
    }
    ~Session() {
        runner_.Stop();
        wizard_.Port().Close();
    }

    // Runs detection as the wizard's detection page shows it. Empty after Ctrl-C.
    std::optional<veldra::DetectionResult> Detect(unsigned port, bool warmedUp) {
        veldra::DetectPageModel page;
        page.Show();
        PrintPageText(out_, page.Text());
        const veldra::DetectionRequest request{port, warmedUp, {}};
        runner_.Start([this, request](veldra::WorkerObserver& reporter) {
            veldra::RunDetection(wizard_.Link(), request, reporter);
        });
        for (;;) {
            WorkerEvent event;
            if (queue_.WaitUntil(std::nullopt, event) == EventQueue::Wake::Interrupt) {
                runner_.Stop();
                return std::nullopt;
            }
            if (!runner_.Accept(event) || event.message != veldra::kMsgDetectDone) {
                continue;
            }
            runner_.Finish();
            const size_t before = page.Text().size();
            page.Apply(event.code, event.param);
            PrintPageText(out_, std::string_view(page.Text()).substr(before));
            if (!page.Text().ends_with('\r')) {
                PrintPageText(out_, "\n");  // the found text ends its paragraph without a break
            }
            return veldra::DetectionResult{event.code, event.param};
        }
    }

    int WarmUp(int minutes) {
        veldra::WarmUpPageModel page;
        page.SetCountdownMinutes(minutes);
        page.Show();
        PrintPageText(out_, page.ProgressLine() + "\n");
        runner_.Start([this](veldra::WorkerObserver& reporter) {
            veldra::RunWarmUp(wizard_.Link(), reporter);
        });
        // The countdown ticks on whole seconds from its start, so it does not drift.
        std::optional<Clock::time_point> nextTick;
        for (;;) {
            WorkerEvent event;
            switch (queue_.WaitUntil(nextTick, event)) {
                case EventQueue::Wake::Interrupt:
                    // As the wizard's confirmed Exit: stop the worker, then cancel in its stead.
                    runner_.Stop();
                    return EndWarmUp(page, veldra::kWarmUpCancelled, kExitCancelled);
                case EventQueue::Wake::Timeout: {
                    *nextTick += std::chrono::seconds(1);
                    if (page.TickCountdown()) {
                        runner_.Stop();
                        PrintPageText(out_, page.Outcome() + "\n");
                        return kExitOk;
                    }
                    if (page.Seconds() == 0) {
                        PrintPageText(out_, page.Countdown() + "\n");
                    }
                    break;
                }
                case EventQueue::Wake::Event:
                    if (!runner_.Accept(event) || event.message != veldra::kMsgWarmUpEvent) {
                        break;
                    }
                    if (event.code == veldra::kWarmUpRunning) {
                        page.Apply(event.code);
                        PrintPageText(out_, page.ProgressLine() + page.Countdown() + "\n");
                        nextTick = Clock::now() + std::chrono::seconds(1);
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

    int Calibrate() {
        veldra::CalibrationPageModel page;
        page.Show();
        PrintPageText(out_, page.Log());
        ConfigSettings calib;
        runner_.Start([this, &calib](veldra::WorkerObserver& reporter) {
            veldra::RunCalibration(wizard_.Link(), calib, reporter);
        });
        for (;;) {
            WorkerEvent event;
            if (queue_.WaitUntil(std::nullopt, event) == EventQueue::Wake::Interrupt) {
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
            PrintPageText(out_, "\nProgress: " + std::to_string(page.Position()) + "%\n");
            return event.code == veldra::kCalibComplete ? kExitOk : static_cast<int>(event.code);
        }
    }

private:
    int EndWarmUp(veldra::WarmUpPageModel& page, uint32_t code, int status) {
        React(WorkerEvent{veldra::kMsgWarmUpEvent, code, 0, 0});
        page.Apply(code);
        PrintPageText(out_, page.Outcome());
        return status;
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

    std::FILE* out_;
    veldra::WizardLink wizard_;
    EventQueue queue_;
    veldra::WorkerRunner runner_{wizard_.Cancel(), queue_};
    InterruptWatch watch_;
};

int DetectExit(const std::optional<veldra::DetectionResult>& result) {
    if (!result) {
        return kExitCancelled;
    }
    return result->code == veldra::kDetectFound ? kExitOk
                                                : kExitDetectBase + static_cast<int>(result->code);
}

}  // namespace

int RunDetectCommand(const Options& options, std::FILE* out) {
    Session session(options, out);
    return DetectExit(session.Detect(options.port, options.warmedUp));
}

int RunWarmUpCommand(const Options& options, std::FILE* out) {
    Session session(options, out);
    const auto found = session.Detect(options.port, false);
    if (!found || found->code != veldra::kDetectFound) {
        return DetectExit(found);
    }
    return session.WarmUp(options.minutes);
}

int RunCalibrateCommand(const Options& options, std::FILE* out) {
    Session session(options, out);
    // Calibrating at once is the wizard's path for an amplifier said to be warmed up, so
    // detection also asks that it is powered on.
    const auto found = session.Detect(options.port, true);
    if (!found || found->code != veldra::kDetectFound) {
        return DetectExit(found);
    }
    return session.Calibrate();
}

}  // namespace k5::cli
