#include "cli/k5ctl_line.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/interrupt_watch.h"
#include "cli/k5ctl_commands.h"
#include "cli/stop_hub.h"
#include "cli/terminal.h"
#include "platform/utf8_path.h"
#include "serialport/com_port.h"
#include "serialport/notices.h"

namespace k5::cli {

namespace {

using Clock = std::chrono::steady_clock;

// How often at most the live view is redrawn, and how often at least while a countdown runs.
constexpr auto kRedrawPause = std::chrono::milliseconds(250);
constexpr auto kRedrawAtLeast = std::chrono::seconds(1);
constexpr size_t kBarWidth = 20;

// One unit of the line: how it runs and, behind the output's lock, how far it got.
struct Unit {
    Options options;
    std::string label;   // "COM3", or the device path
    std::string device;  // the device path, for the view and the summary
    std::unique_ptr<UnitLogFile> log;

    // Guarded by the output's lock.
    std::string pending[2];  // standard output's and error's text after its last line feed
    std::string step;        // its output's last line: where the run stands
    std::string errors;      // live view: its standard error texts, shown after the view
    std::optional<Clock::time_point> countdownEnd;
    std::chrono::seconds countdownTotal{0};
    std::optional<int> status;
    Clock::duration duration{};
};

// A text fit for one line of a terminal: control characters (a device's name or a page text
// could bring an escape sequence) become spaces, and it ends within `columns` characters.
std::string FitLine(std::string_view text, size_t columns) {
    std::string line;
    size_t characters = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool continuation = (byte & 0xC0u) == 0x80u;
        if (!continuation && ++characters > columns) {
            break;
        }
        line.push_back(byte < 0x20 || byte == 0x7F ? ' ' : c);
    }
    return line;
}

// The last line of `text` that holds more than blanks, without its line ends.
std::string_view LastLine(std::string_view text) {
    for (;;) {
        const size_t end = text.find_last_not_of("\r\n \t");
        if (end == std::string_view::npos) {
            return {};
        }
        text = text.substr(0, end + 1);
        const size_t start = text.find_last_of("\r\n");
        std::string_view line = start == std::string_view::npos ? text : text.substr(start + 1);
        if (!line.empty()) {
            return line;
        }
    }
}

std::string ResultText(int status) {
    switch (status) {
        case kExitOk:
            return "success";
        case kExitCancelled:
            return "stopped";
        case kExitPortError:
            return "port error";
        default:
            return "failed, exit " + std::to_string(status);
    }
}

std::string DurationText(Clock::duration duration) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld s", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    return text;
}

std::string Pad(std::string text, size_t width) {
    if (text.size() < width) {
        text.append(width - text.size(), ' ');
    }
    return text;
}

// Where the units' texts meet: whole lines under one lock, each batch in one write.
class LineOutput {
public:
    LineOutput(std::FILE* out, std::FILE* err, bool live, size_t columns, size_t rows, size_t units)
        : out_(out), err_(err), live_(live), columns_(columns), rows_(rows), running_(units) {}

    void Take(Unit& unit, bool error, std::string_view text) {
        std::lock_guard lock(mutex_);
        std::string& pending = unit.pending[error ? 1 : 0];
        pending.append(text);
        if (live_ && !error) {
            if (const std::string_view line = LastLine(pending); !line.empty()) {
                unit.step = std::string(line);
                Changed();
            }
        }
        const size_t end = pending.rfind('\n');
        if (end == std::string::npos) {
            return;
        }
        const std::string_view whole = std::string_view(pending).substr(0, end + 1);
        if (live_) {
            if (error) {
                unit.errors.append(whole);
            }
        } else {
            std::string batch;
            for (size_t start = 0; start < whole.size();) {
                const size_t next = whole.find('\n', start) + 1;
                batch += unit.label + ": ";
                batch.append(whole.substr(start, next - start));
                start = next;
            }
            WriteLocked(error ? err_ : out_, batch);
        }
        pending.erase(0, end + 1);
    }

    void Countdown(Unit& unit, std::optional<Clock::time_point> end, std::chrono::seconds total) {
        std::lock_guard lock(mutex_);
        unit.countdownEnd = end;
        unit.countdownTotal = total;
        Changed();
    }

    // The unit has ended: an unfinished last text goes out as a line of its own.
    void Finish(Unit& unit, int status, Clock::duration duration) {
        std::lock_guard lock(mutex_);
        for (const bool error : {false, true}) {
            std::string& pending = unit.pending[error ? 1 : 0];
            if (pending.empty()) {
                continue;
            }
            if (live_) {
                if (error) {
                    unit.errors += pending + "\n";
                }
            } else {
                WriteLocked(error ? err_ : out_, unit.label + ": " + pending + "\n");
            }
            pending.clear();
        }
        unit.status = status;
        unit.duration = duration;
        unit.countdownEnd.reset();
        --running_;
        Changed();
    }

    // A notice of the port layer, the runner's own: unprefixed, after the view when live.
    void Notice(const std::string& notice) {
        std::lock_guard lock(mutex_);
        if (live_) {
            notices_ += notice + "\n";
        } else {
            WriteLocked(err_, notice + "\n");
        }
    }

    // Redraws the units' lines in place until every unit has ended: on a change, at most
    // every kRedrawPause, and every kRedrawAtLeast for the countdowns.
    void ShowLive(const std::vector<std::unique_ptr<Unit>>& units) {
        bool drawn = false;
        std::string lastFrame;
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait_for(lock, kRedrawAtLeast, [this] { return dirty_ || running_ == 0; });
            dirty_ = false;
            const bool last = running_ == 0;
            // A frame taller than the terminal cannot be redrawn in place: a short terminal
            // shows the units that fit and counts the others on a last line.
            const size_t shown =
                units.size() < rows_ ? units.size() : std::max<size_t>(rows_, 3) - 2;
            const size_t height = shown < units.size() ? shown + 1 : shown;
            std::string frame = drawn ? "\x1b[" + std::to_string(height) + "A" : "";
            drawn = true;
            const Clock::time_point now = Clock::now();
            for (size_t index = 0; index < shown; ++index) {
                frame +=
                    "\r" + FitLine(LiveLine(*units[index], units, now), columns_ - 1) + "\x1b[K\n";
            }
            if (shown < units.size()) {
                frame += "\r" + FitLine(OthersLine(units, shown), columns_ - 1) + "\x1b[K\n";
            }
            // A countdown that has not moved a second on is not drawn again.
            if (frame != lastFrame) {
                WriteLocked(out_, frame);
                lastFrame = std::move(frame);
            }
            if (last) {
                break;
            }
            changed_.wait_for(lock, kRedrawPause, [this] { return running_ == 0; });
        }
    }

    // After the view: what the units said on standard error, and the notices.
    void ShowErrors(const std::vector<std::unique_ptr<Unit>>& units) {
        std::lock_guard lock(mutex_);
        std::string text = notices_;
        for (const auto& unit : units) {
            for (size_t start = 0; start < unit->errors.size();) {
                const size_t next = unit->errors.find('\n', start) + 1;
                text += unit->label + ": " + unit->errors.substr(start, next - start);
                start = next;
            }
        }
        if (!text.empty()) {
            WriteLocked(err_, text);
        }
    }

    void Summary(const std::vector<std::unique_ptr<Unit>>& units) {
        size_t labelWidth = 4;   // "PORT"
        size_t deviceWidth = 6;  // "DEVICE"
        size_t resultWidth = 6;  // "RESULT"
        for (const auto& unit : units) {
            labelWidth = std::max(labelWidth, unit->label.size());
            deviceWidth = std::max(deviceWidth, unit->device.size());
            resultWidth = std::max(resultWidth, ResultText(unit->status.value_or(-1)).size());
        }
        std::string text = "\n" + Pad("PORT", labelWidth) + "  " + Pad("DEVICE", deviceWidth) +
                           "  " + Pad("RESULT", resultWidth) + "  DURATION\n";
        for (const auto& unit : units) {
            text += Pad(unit->label, labelWidth) + "  " + Pad(unit->device, deviceWidth) + "  " +
                    Pad(ResultText(unit->status.value_or(-1)), resultWidth) + "  " +
                    DurationText(unit->duration) + "\n";
        }
        std::lock_guard lock(mutex_);
        WriteLocked(out_, text);
    }

private:
    void Changed() {
        dirty_ = true;
        changed_.notify_all();
    }

    static void WriteLocked(std::FILE* stream, const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), stream);
        std::fflush(stream);
    }

    // "and 42 more: 30 running, 11 succeeded, 1 failed", for the units from `first` on.
    static std::string OthersLine(const std::vector<std::unique_ptr<Unit>>& units, size_t first) {
        size_t running = 0;
        size_t succeeded = 0;
        for (size_t index = first; index < units.size(); ++index) {
            if (!units[index]->status) {
                ++running;
            } else if (*units[index]->status == kExitOk) {
                ++succeeded;
            }
        }
        const size_t others = units.size() - first;
        return "and " + std::to_string(others) + " more: " + std::to_string(running) +
               " running, " + std::to_string(succeeded) + " succeeded, " +
               std::to_string(others - running - succeeded) + " failed";
    }

    static std::string LiveLine(const Unit& unit, const std::vector<std::unique_ptr<Unit>>& units,
                                Clock::time_point now) {
        size_t labelWidth = 0;
        size_t deviceWidth = 0;
        for (const auto& other : units) {
            labelWidth = std::max(labelWidth, other->label.size());
            deviceWidth = std::max(deviceWidth, other->device.size());
        }
        std::string line =
            Pad(unit.label, labelWidth) + "  " + Pad(unit.device, deviceWidth) + "  ";
        if (unit.status) {
            return line + ResultText(*unit.status) + "  " + DurationText(unit.duration);
        }
        if (unit.countdownEnd && unit.countdownTotal.count() > 0) {
            const auto left = std::max(Clock::duration::zero(), *unit.countdownEnd - now);
            const auto seconds = std::chrono::ceil<std::chrono::seconds>(left).count();
            const auto total = std::chrono::duration_cast<Clock::duration>(unit.countdownTotal);
            const size_t filled = static_cast<size_t>(
                kBarWidth * std::chrono::duration<double>(total - left).count() /
                std::chrono::duration<double>(total).count());
            char time[32];
            std::snprintf(time, sizeof time, "%02lld:%02lld left",
                          static_cast<long long>(seconds / 60),
                          static_cast<long long>(seconds % 60));
            return line + "warm-up [" + std::string(std::min(filled, kBarWidth), '#') +
                   std::string(kBarWidth - std::min(filled, kBarWidth), '-') + "] " + time;
        }
        return line + unit.step;
    }

    std::FILE* out_;
    std::FILE* err_;
    const bool live_;
    const size_t columns_;
    const size_t rows_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool dirty_ = false;
    size_t running_;
    std::string notices_;
};

// One of a unit's two streams, as its run writes them.
class UnitSink final : public TextSink {
public:
    UnitSink(LineOutput& output, Unit& unit, bool error)
        : output_(output), unit_(unit), error_(error) {}
    void Write(std::string_view text) override { output_.Take(unit_, error_, text); }
    void CountdownBegins(Clock::time_point end, std::chrono::seconds total) override {
        output_.Countdown(unit_, end, total);
    }
    void CountdownEnds() override { output_.Countdown(unit_, std::nullopt, {}); }

private:
    LineOutput& output_;
    Unit& unit_;
    const bool error_;
};

}  // namespace

void LoggedSink::Write(std::string_view text) {
    out_.Write(text);
    if (file_ == nullptr) {
        return;
    }
    if (const std::optional<std::string> failure = file_->Write(text)) {
        Print(err_, "k5ctl: --log-dir " + Utf8FromPath(file_->Path()) + ": " + *failure + "\n");
        file_ = nullptr;  // told once; the run goes on
    }
}

int ApplyUnitsFile(Options& options, TextSink& err) {
    if (options.unitsPath.empty()) {
        return kExitOk;
    }
    const std::string name = "k5ctl: --units " + options.unitsPath;
    std::string text;
    if (const std::optional<std::string> failure =
            ReadUnitsFile(PathFromUtf8(options.unitsPath), text)) {
        Print(err, name + ": " + *failure + "\n");
        return kExitUsage;
    }
    std::string error;
    const std::optional<std::map<unsigned, std::string>> ids = ParseUnitsTable(text, error);
    if (!ids) {
        Print(err, name + ": " + error + "\n");
        return kExitUsage;
    }
    // The file is looked up by COM number: a unit named by its device has none.
    const auto lookUp = [&](unsigned port, const std::string& device,
                            std::optional<std::string>& id) {
        if (!device.empty() || port == 0) {
            Print(err, "k5ctl: --units gives IDs by COM number; " +
                           std::string(device.empty() ? "give the unit's --port N"
                                                      : "with --device give --unit ID") +
                           "\n");
            return false;
        }
        const auto found = ids->find(port);
        if (found == ids->end()) {
            Print(err, name + " has no ID for COM" + std::to_string(port) + "\n");
            return false;
        }
        id = found->second;
        return true;
    };
    if (options.line.empty()) {
        return lookUp(options.port, options.device, options.identity.unit) ? kExitOk : kExitUsage;
    }
    for (LineUnit& unit : options.line) {
        if (!lookUp(unit.port, unit.device, unit.id)) {
            return kExitUsage;
        }
    }
    return kExitOk;
}

std::unique_ptr<UnitLogFile> OpenUnitLog(const std::string& folder, unsigned port,
                                         const std::string& device, TextSink& err) {
    const std::filesystem::path dir = PathFromUtf8(folder);
    if (const std::optional<std::string> failure = MakeLogFolder(dir)) {
        Print(err, "k5ctl: --log-dir " + folder + ": " + *failure + "\n");
        return nullptr;
    }
    const std::filesystem::path path = dir / PathFromUtf8(UnitLogName(port, device));
    std::string reason;
    std::unique_ptr<UnitLogFile> file = UnitLogFile::Open(path, reason);
    if (!file) {
        Print(err, "k5ctl: --log-dir " + Utf8FromPath(path) + ": " + reason + "\n");
    }
    return file;
}

int RunLine(const Options& given, std::FILE* out, std::FILE* err) {
    FileSink errSink(err);
    Options options = given;
    if (const int status = ApplyUnitsFile(options, errSink); status != kExitOk) {
        return status;
    }
    if (!options.logDir.empty()) {
        std::set<std::string> names;
        for (const LineUnit& unit : options.line) {
            if (!names.insert(UnitLogName(unit.port, unit.device)).second) {
                Print(errSink, "k5ctl: --log-dir: two devices would write " +
                                   UnitLogName(unit.port, unit.device) + "\n");
                return kExitUsage;
            }
        }
    }
    int status = kExitOk;
    std::optional<RunFiles> files = OpenRunFiles(options, errSink, status);
    if (!files) {
        return status;
    }

    std::vector<std::unique_ptr<Unit>> units;
    for (const LineUnit& line : options.line) {
        auto unit = std::make_unique<Unit>();
        unit->options = options;
        unit->options.line.clear();
        unit->options.port = line.port;
        unit->options.device = line.device;
        unit->options.identity.unit = line.id;
        unit->label = line.device.empty() ? "COM" + std::to_string(line.port) : line.device;
        unit->device = line.device.empty() ? ComPortDevicePath(line.port) : line.device;
        if (!options.logDir.empty()) {
            unit->log = OpenUnitLog(options.logDir, line.port, line.device, errSink);
            if (!unit->log) {
                return kExitRecordFailed;
            }
        }
        units.push_back(std::move(unit));
    }

    const bool live = IsLiveTerminal(out);
    const TerminalSize size = live ? TerminalSizeOf(out) : TerminalSize{};
    LineOutput output(out, err, live, size.columns, size.rows, units.size());
    SetNoticeSink([&output](const std::string& notice) { output.Notice(notice); });
    StopHub stop;
    {
        // Before the first unit's thread, so that every thread started after it leaves the
        // signals to it, and no signal ends the process with a line half written.
        const InterruptWatch watch([&stop] { stop.Stop(); });
        std::vector<std::thread> threads;
        threads.reserve(units.size());
        for (const auto& owned : units) {
            Unit* unit = owned.get();
            // A unit whose thread cannot be started has sent nothing: it fails alone, and the
            // others run on.
            try {
                threads.emplace_back([&output, &stop, &files, unit] {
                    UnitSink unitOut(output, *unit, false);
                    UnitSink unitErr(output, *unit, true);
                    LoggedSink logged(unitOut, unit->log.get(), unitErr);
                    const Clock::time_point started = Clock::now();
                    const int unitStatus =
                        RunUnit(unit->options,
                                {logged, unitErr, stop, files->record.get(), files->report.get()});
                    output.Finish(*unit, unitStatus, Clock::now() - started);
                });
            } catch (const std::system_error& error) {
                output.Take(
                    *unit, true,
                    std::string("k5ctl: cannot start this unit's run: ") + error.what() + "\n");
                output.Finish(*unit, kExitFailed, Clock::duration::zero());
            }
        }
        if (live) {
            output.ShowLive(units);
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
    }
    SendNoticesToStandardError();
    output.ShowErrors(units);
    output.Summary(units);

    bool stopped = false;
    bool failed = false;
    for (const auto& unit : units) {
        stopped = stopped || unit->status == kExitCancelled;
        failed = failed || unit->status != kExitOk;
    }
    return stopped ? kExitCancelled : failed ? kExitSomeFailed : kExitOk;
}

}  // namespace k5::cli
