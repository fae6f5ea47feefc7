// A line of amplifiers from one k5ctl: one unit, then 16 and 64 at once, each against its own
// simulated K5, all measured in this one invocation so that the single run is the yardstick
// of the others on the same machine in the same state.
//
//   bench_line [--no-calibration]
//
// For each run it reports every unit's duration (from its record) beside the single unit's,
// the median interval between a unit's conductance readings (from the simulator's request
// log) beside the single unit's, the runner's CPU time over its wall time and its peak
// memory. Then a short warm-up and calibration of one unit and of 16, and the units per hour
// one station makes with 1, 16 and 64 fixtures.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devlink/registers.h"
#include "sim/sim_line.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr unsigned kMostUnits = 64;
// A short warm-up: the calibration with the full ten minutes is extrapolated from it.
constexpr int kWarmUpMinutes = 1;
constexpr double kFullWarmUpSeconds = 600.0;

struct Targets {
    double durationShare;      // every unit within this share of the single run
    double readingIntervalMs;  // median reading interval within this of the single run's
    double cpuCores;           // the runner's CPU time over its wall time
};

struct RunFigures {
    unsigned units = 0;
    bool allSucceeded = false;
    std::vector<std::string> failures;  // "COM7: failed, status 1", for the units that failed
    int exitStatus = -1;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
    std::vector<double> unitSeconds;              // by unit, from the records
    std::vector<double> medianReadingIntervalMs;  // by unit, from the simulators
};

// Seconds since the epoch of an ISO 8601 local time with milliseconds and offset, as the
// record writes it ("2026-12-07T13:05:09.042+01:00").
double RecordTime(const std::string& text) {
    std::tm tm{};
    int millis = 0;
    char sign = '+';
    int offsetHours = 0;
    int offsetMinutes = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d.%d%c%d:%d", &tm.tm_year, &tm.tm_mon,
                    &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &millis, &sign, &offsetHours,
                    &offsetMinutes) != 10) {
        return NAN;
    }
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    const double offset = (sign == '-' ? -1 : 1) * (offsetHours * 3600.0 + offsetMinutes * 60.0);
    return static_cast<double>(timegm(&tm)) - offset + millis / 1000.0;
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return NAN;
    }
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The median gap between one unit's consecutive conductance readings within a measurement;
// the gaps across the stage pauses between measurements are not reading intervals.
double MedianReadingIntervalMs(const k5::sim::Simulator& unit) {
    std::vector<double> gaps;
    std::optional<Clock::time_point> previous;
    for (const k5::sim::Request& request : unit.Requests()) {
        if (request.kind != k5::sim::RequestKind::ReadRegister ||
            (request.address != k5::kRegLeftHighCont && request.address != k5::kRegRightHighCont)) {
            continue;
        }
        if (previous) {
            const double gap =
                std::chrono::duration<double, std::milli>(request.received - *previous).count();
            if (gap < 100.0) {
                gaps.push_back(gap);
            }
        }
        previous = request.received;
    }
    return Median(gaps);
}

// Runs k5ctl with `args`, its output into `logPath`, and waits for it.
bool RunK5ctl(const std::vector<std::string>& args, const std::filesystem::path& logPath,
              RunFigures& figures) {
    std::vector<char*> argv;
    std::string program = K5CTL_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = 0;
    const auto start = Clock::now();
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", program.c_str(), std::strerror(spawned));
        return false;
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "wait4: %s\n", std::strerror(errno));
            return false;
        }
    }
    figures.wallSeconds = Seconds(Clock::now() - start).count();
    figures.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    figures.peakKiB = usage.ru_maxrss;
    figures.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

// One k5ctl run over a line of `units` simulated units, with its figures. Every run gets a
// line of its own, so that each unit starts as the single unit did: a calibration leaves its
// amplifier switched off, and one that has to switch on again takes 20 s longer.
bool MeasureRun(const std::filesystem::path& folder, unsigned units,
                const std::vector<std::string>& command, RunFigures& figures) {
    std::string error;
    const auto line = k5::sim::SimulatedLine::Start(
        {.left = 760, .right = 760}, {.units = units, .portTableDir = folder.string()}, error);
    if (!line) {
        std::fprintf(stderr, "cannot start the simulated line: %s\n", error.c_str());
        return false;
    }
    const std::string name = command.front() + "-" + std::to_string(units);
    const std::filesystem::path records = folder / (name + ".jsonl");
    std::vector<std::string> args{"--port", units == 1 ? "1" : "1-" + std::to_string(units)};
    args.insert(args.end(), command.begin(), command.end());
    args.insert(args.end(), {"--json", records.string(), "--log-dir", (folder / name).string()});
    figures.units = units;
    if (!RunK5ctl(args, folder / (name + ".log"), figures)) {
        return false;
    }
    figures.unitSeconds.assign(units, NAN);
    figures.allSucceeded = figures.exitStatus == 0;
    std::ifstream in(records);
    std::string text;
    while (std::getline(in, text)) {
        const nlohmann::json record = nlohmann::json::parse(text, nullptr, false);
        if (record.is_discarded() || !record["port"].is_number_unsigned()) {
            continue;
        }
        const unsigned port = record["port"].get<unsigned>();
        if (port < 1 || port > units || !record["started"].is_string() ||
            !record["finished"].is_string()) {
            continue;
        }
        figures.unitSeconds[port - 1] = RecordTime(record["finished"].get<std::string>()) -
                                        RecordTime(record["started"].get<std::string>());
        if (record["outcome"] != "success") {
            figures.allSucceeded = false;
            figures.failures.push_back("COM" + std::to_string(port) + ": " +
                                       record["outcome"].dump() + ", status " +
                                       record["status"].dump());
        }
    }
    for (unsigned index = 0; index < units; ++index) {
        figures.medianReadingIntervalMs.push_back(MedianReadingIntervalMs(line->Unit(index)));
        figures.allSucceeded = figures.allSucceeded && !std::isnan(figures.unitSeconds[index]);
    }
    return true;
}

// Prints one run beside the single unit's and says whether it met the targets.
bool Report(const char* what, const RunFigures& single, const RunFigures& run,
            const Targets& targets, bool intervals) {
    const double base = single.unitSeconds.front();
    double slowest = 0;
    double worstInterval = 0;
    for (size_t index = 0; index < run.units; ++index) {
        slowest = std::max(slowest, run.unitSeconds[index]);
        const double interval =
            std::fabs(run.medianReadingIntervalMs[index] - single.medianReadingIntervalMs.front());
        worstInterval = std::max(worstInterval, std::isnan(interval) ? INFINITY : interval);
    }
    const double share = (slowest - base) / base;
    const double cores = run.cpuSeconds / run.wallSeconds;
    const bool durationOk = run.allSucceeded && share <= targets.durationShare;
    const bool intervalOk = !intervals || worstInterval <= targets.readingIntervalMs;
    const bool cpuOk = cores <= targets.cpuCores;
    for (const std::string& failure : run.failures) {
        std::printf("%-12s %3u units: %s\n", what, run.units, failure.c_str());
    }
    std::printf("%-12s %3u units: exit %d, slowest unit %.3f s (%+.2f%%, target %.0f%%) %s\n", what,
                run.units, run.exitStatus, slowest, 100 * share, 100 * targets.durationShare,
                durationOk ? "ok" : "MISSED");
    if (intervals) {
        std::printf(
            "%-12s            median reading interval %.3f ms, worst unit off by %.3f ms "
            "(target %.1f ms) %s\n",
            "", Median(run.medianReadingIntervalMs), worstInterval, targets.readingIntervalMs,
            intervalOk ? "ok" : "MISSED");
    }
    std::printf(
        "%-12s            runner: %.2f s CPU in %.2f s = %.3f cores (target under %.2f) "
        "%s, peak %ld KiB\n",
        "", run.cpuSeconds, run.wallSeconds, cores, targets.cpuCores, cpuOk ? "ok" : "MISSED",
        run.peakKiB);
    return durationOk && intervalOk && cpuOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure as soon as it is measured
    const bool calibration = !(argc > 1 && std::string_view(argv[1]) == "--no-calibration");
    char folderTemplate[] = "/tmp/bench-line-XXXXXX";
    if (mkdtemp(folderTemplate) == nullptr) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::filesystem::path folder = folderTemplate;
    // k5ctl finds the simulated units through the port table in this folder.
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);

    bool met = true;
    const std::vector<std::string> configure{"configure"};
    RunFigures single;
    RunFigures sixteen;
    RunFigures all;
    if (!MeasureRun(folder, 1, configure, single) || !MeasureRun(folder, 16, configure, sixteen) ||
        !MeasureRun(folder, kMostUnits, configure, all)) {
        return 2;
    }
    if (!single.allSucceeded) {
        std::fprintf(stderr, "the single configuration failed (exit %d); see %s\n",
                     single.exitStatus, folder.c_str());
        return 2;
    }
    std::printf(
        "configure      1 unit:  %.3f s, median reading interval %.3f ms, runner %.3f "
        "cores, peak %ld KiB\n",
        single.unitSeconds.front(), single.medianReadingIntervalMs.front(),
        single.cpuSeconds / single.wallSeconds, single.peakKiB);
    met = Report("configure", single, sixteen, {0.01, 0.3, 1.0}, true) && met;
    met = Report("configure", single, all, {0.03, INFINITY, 0.5}, false) && met;
    std::printf("memory per extra unit: %.1f KiB\n",
                static_cast<double>(all.peakKiB - single.peakKiB) / (kMostUnits - 1));

    std::printf(
        "\nunits per hour, configuration:  1 fixture %.0f, 16 fixtures %.0f, 64 fixtures "
        "%.0f\n",
        3600.0 / single.wallSeconds, 16 * 3600.0 / sixteen.wallSeconds,
        kMostUnits * 3600.0 / all.wallSeconds);

    if (calibration) {
        const std::vector<std::string> calibrate{"calibrate", "--warm-up", "--minutes",
                                                 std::to_string(kWarmUpMinutes)};
        RunFigures calSingle;
        RunFigures calSixteen;
        RunFigures calAll;
        if (!MeasureRun(folder, 1, calibrate, calSingle) ||
            !MeasureRun(folder, 16, calibrate, calSixteen) ||
            !MeasureRun(folder, kMostUnits, calibrate, calAll)) {
            return 2;
        }
        if (!calSingle.allSucceeded) {
            std::fprintf(stderr, "the single calibration failed (exit %d); see %s\n",
                         calSingle.exitStatus, folder.c_str());
            return 2;
        }
        std::printf("calibrate      1 unit:  %.3f s with a %d-minute warm-up\n",
                    calSingle.unitSeconds.front(), kWarmUpMinutes);
        met = Report("calibrate", calSingle, calSixteen, {0.01, INFINITY, 1.0}, false) && met;
        // Reported beside the others; the 64-unit calibration has no target of its own
        // beyond every unit succeeding.
        Report("calibrate", calSingle, calAll, {0.03, INFINITY, 0.5}, false);
        met = calAll.allSucceeded && met;
        const double extra = kFullWarmUpSeconds - 60.0 * kWarmUpMinutes;
        std::printf(
            "units per hour, calibration with the full warm-up (extrapolated): 1 fixture "
            "%.1f, 16 fixtures %.1f, 64 fixtures %.1f\n",
            3600.0 / (calSingle.wallSeconds + extra),
            16 * 3600.0 / (calSixteen.wallSeconds + extra),
            kMostUnits * 3600.0 / (calAll.wallSeconds + extra));
    }
    if (met) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    } else {
        std::printf("logs and records kept in %s\n", folder.c_str());
    }
    std::printf("%s\n", met ? "every target met" : "TARGETS MISSED");
    return met ? 0 : 1;
}
