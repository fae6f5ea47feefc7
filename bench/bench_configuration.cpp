// Configuration benchmark: one full configuration run at real speed against the simulated
// amplifier on a pseudo-terminal, beside the time the procedure must take by its own
// definition: the ten 1000 ms stage pauses, every exchange's pause on the cancel event, and
// the read time-out a text reply must wait out (20 ms after its last byte, since it is
// shorter than the 50 bytes asked for). Register replies end their read with their eleventh
// byte, so they add only their pauses.
//
//   bench_configuration [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "bench/sim_line.h"
#include "devlink/config_settings.h"
#include "devlink/device_link.h"
#include "devlink/registers.h"
#include "devlink/serial_comm.h"
#include "serialport/cancel_event.h"
#include "sim/simulator.h"
#include "torvik/configuration.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

constexpr double kStagePausesMs = 10 * 1000.0;
constexpr double kTextExchangeMs = 5.0 + 20.0;  // pause, then the interval time-out
constexpr double kRegisterExchangeMs = 5.0;     // pause; the full reply ends the read
constexpr double kMeasurementReadingMs = 1.0 + kRegisterExchangeMs;
constexpr double kTargetOverhead = 0.01;

class QuietObserver : public k5::torvik::ConfigurationObserver {
public:
    void AppendLog(std::string_view) override {}
    void Complete(int resultCode) override { result = resultCode; }
    int result = -1;
};

// The floor of the run the simulator has just served, from the requests it received.
double FloorMs(const k5::sim::Simulator& sim) {
    double floor = kStagePausesMs;
    for (const k5::sim::Request& request : sim.Requests()) {
        switch (request.kind) {
            case k5::sim::RequestKind::Text:
                floor += kTextExchangeMs;
                break;
            case k5::sim::RequestKind::ReadRegister:
                floor += request.address == k5::kRegLeftHighCont ||
                                 request.address == k5::kRegRightHighCont
                             ? kMeasurementReadingMs
                             : kRegisterExchangeMs;
                break;
            case k5::sim::RequestKind::WriteRegister:
                floor += kRegisterExchangeMs;
                break;
            default:
                break;
        }
    }
    return floor;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    const auto line = k5::bench::SimLine::Open();
    if (!line) {
        return 2;
    }
    k5::sim::Simulator* sim = line->sim.get();
    k5::DeviceLink& link = line->link;

    bool met = true;
    std::printf("%-22s %12s %12s %12s %10s\n", "run", "wall ms", "floor ms", "overhead ms",
                "overhead");
    for (int run = 1; run <= runs; ++run) {
        sim->ClearRequests();
        k5::ConfigSettings record;
        QuietObserver observer;
        const auto start = Clock::now();
        k5::torvik::RunConfiguration(link, record, observer);
        const double wall = Ms(Clock::now() - start).count();
        if (observer.result != 0) {
            std::fprintf(stderr, "run %d ended with result %d\n", run, observer.result);
            return 2;
        }
        const double floor = FloorMs(*sim);
        const double overhead = wall - floor;
        const bool ok = overhead <= floor * kTargetOverhead;
        met = met && ok;
        std::printf("configuration run %-4d %12.1f %12.1f %12.1f %9.3f%% %s\n", run, wall, floor,
                    overhead, 100.0 * overhead / floor, ok ? "ok" : "ABOVE TARGET");
    }
    std::printf("target: overhead at most %.0f%% of the floor\n", kTargetOverhead * 100.0);
    line->port.Close();
    return met ? 0 : 1;
}
