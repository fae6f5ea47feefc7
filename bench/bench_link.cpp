// Link benchmark: how far above the waits the protocol mandates our exchanges take, and how
// much CPU they burn doing it, against the simulated amplifier on a pseudo-terminal.
//
//   bench_link [iterations]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "bench/sim_line.h"
#include "devlink/commands.h"
#include "devlink/device_link.h"
#include "devlink/registers.h"
#include "sim/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

double ProcessCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct Figures {
    double median = 0;
    double p99 = 0;
    double wallMs = 0;
    double cpuMs = 0;
};

Figures Measure(int iterations, const std::function<bool()>& exchange) {
    std::vector<double> times;
    times.reserve(static_cast<size_t>(iterations));
    const double cpuStart = ProcessCpuMs();
    const auto wallStart = Clock::now();
    for (int i = 0; i < iterations; ++i) {
        const auto start = Clock::now();
        if (!exchange()) {
            std::fprintf(stderr, "\nexchange %d failed\n", i);
            std::exit(2);
        }
        times.push_back(Ms(Clock::now() - start).count());
    }
    Figures f;
    f.wallMs = Ms(Clock::now() - wallStart).count();
    f.cpuMs = ProcessCpuMs() - cpuStart;
    std::sort(times.begin(), times.end());
    f.median = times[times.size() / 2];
    f.p99 = times[std::min(times.size() - 1, times.size() * 99 / 100)];
    return f;
}

// Prints one row and says whether it met its targets.
bool Report(const char* name, const Figures& f, double floorMs, double maxOverheadMs) {
    const double overhead = f.median - floorMs;
    const double cpuShare = 100.0 * f.cpuMs / f.wallMs;
    const bool ok = overhead <= maxOverheadMs && cpuShare <= 5.0;
    std::printf("%-34s %8.3f %8.3f %8.3f %9.3f %8.3f %7.2f%%  %s\n", name, f.median, f.p99, floorMs,
                overhead, maxOverheadMs, cpuShare, ok ? "ok" : "TARGET MISSED");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;

    const auto line = k5::bench::SimLine::Open();
    if (!line) {
        return 2;
    }
    const k5::sim::Simulator* sim = line->sim.get();
    k5::DeviceLink& link = line->link;
    // The conductance registers read true only in the measuring state.
    for (auto command : {k5::cmd::kSourceCoax1, k5::cmd::kTestTone1k, k5::cmd::kVolumeMinus8}) {
        if (!link.SendCommand(command, command, 5)) {
            std::fprintf(stderr, "the simulator did not take the measuring state\n");
            return 2;
        }
    }

    std::printf("K5 link benchmark against %s, %d iterations each (times in ms)\n",
                sim->DevicePath().c_str(), iterations);
    std::printf("%-34s %8s %8s %8s %9s %8s %8s\n", "exchange", "median", "p99", "floor", "overhead",
                "target", "cpu");

    bool ok = true;
    uint32_t value = 0;
    ok &= Report("register read (1 reading)",
                 Measure(iterations, [&] { return link.ReadRegister(k5::kRegStmax, value) == 1; }),
                 5.0, 0.5);

    uint32_t average = 0;
    ok &= Report("MeasureRegister (16 readings)",
                 Measure(std::max(1, iterations / 10),
                         [&] {
                             return link.MeasureRegister(k5::kRegLeftHighCont, 550, 900, average) ==
                                    k5::kMeasureInRange;
                         }),
                 16 * (1.0 + 5.0), 16 * 0.5);

    // The reply is shorter than the 50 bytes asked for, so the read ends 20 ms after it.
    ok &= Report(
        "SendCommand (5 ms pause)",
        Measure(
            iterations,
            [&] { return link.SendCommand(k5::cmd::kSourceCoax1, k5::cmd::kSourceCoax1, 5) == 1; }),
        5.0 + 20.0, 2.0);

    line->port.Close();
    std::printf("cpu: whole process (client and simulator) over wall time; target at most 5%%\n");
    std::printf("%s\n", ok ? "all targets met" : "some targets missed");
    return ok ? 0 : 1;
}
