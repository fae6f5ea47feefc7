// Link benchmark over a real serial device: how far above the waits the protocol mandates a
// register reading and a text exchange take. Built for both platforms, so the same exchanges
// can be timed natively and as a Windows program under Wine against one k5sim
// (scripts/bench-windows.sh prints both).
//
//   bench_com_link DEVICE [iterations]     e.g. /dev/pts/3, or \\.\COM5 on Windows
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "devlink/commands.h"
#include "devlink/device_link.h"
#include "devlink/registers.h"
#include "serialport/timer_resolution.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

struct Figures {
    double lowerQuartile = 0;
    double median = 0;
    double p99 = 0;
};

Figures Measure(int iterations, const std::function<bool()>& exchange) {
    std::vector<double> times;
    times.reserve(static_cast<size_t>(iterations));
    for (int i = 0; i < iterations; ++i) {
        const auto start = Clock::now();
        if (!exchange()) {
            std::fprintf(stderr, "\nexchange %d failed\n", i);
            std::exit(2);
        }
        times.push_back(Ms(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 4], times[times.size() / 2],
            times[std::min(times.size() - 1, times.size() * 99 / 100)]};
}

// Prints one row; the target is on the lower quartile's distance from the floor.
bool Report(const char* name, const Figures& f, double floorMs, double maxOverheadMs) {
    const double overhead = f.lowerQuartile - floorMs;
    const bool ok = overhead <= maxOverheadMs;
    std::printf("%-28s %8.3f %8.3f %8.3f %7.1f %9.3f %7.1f  %s\n", name, f.lowerQuartile, f.median,
                f.p99, floorMs, overhead, maxOverheadMs, ok ? "ok" : "TARGET MISSED");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_com_link DEVICE [iterations]\n");
        return 2;
    }
    const int iterations = argc > 2 ? std::max(4, std::atoi(argv[2])) : 200;
    const k5::TimerResolution timer;

    k5::CSerialComm port;
    k5::CancelEvent cancel;
    k5::DeviceLink link(port, cancel);
    k5::SelectAmplifierBaudRate(port);
    port.SetDevicePathOverride(argv[1]);
    if (!port.Open()) {
        std::fprintf(stderr, "cannot open %s: %s\n", argv[1], port.LastErrorText().c_str());
        return 2;
    }
#ifdef _WIN32
    const char* platform = "Windows";
#else
    const char* platform = "native";
#endif
    std::printf("%s: %s, %d iterations each (times in ms)\n", platform, argv[1], iterations);
    std::printf("%-28s %8s %8s %8s %7s %9s %7s\n", "exchange", "lower q.", "median", "p99", "floor",
                "overhead", "target");

    bool ok = true;
    uint32_t value = 0;
    // A 5 ms pause and an 11-byte reply; a pseudo-terminal adds no line time (a real line at
    // 115200 baud would add about 1.6 ms for the 18 bytes).
    ok &= Report("register reading",
                 Measure(iterations, [&] { return link.ReadRegister(k5::kRegStmax, value) == 1; }),
                 5.0, 1.5);
    // A 5 ms pause, then the reply is shorter than the 50 bytes asked for, so the read ends
    // 20 ms after it.
    ok &= Report(
        "text exchange",
        Measure(
            iterations,
            [&] { return link.SendCommand(k5::cmd::kSourceCoax1, k5::cmd::kSourceCoax1, 5) == 1; }),
        25.0, 2.0);
    port.Close();
    std::printf("%s\n", ok ? "all targets met" : "some targets missed");
    return ok ? 0 : 1;
}
