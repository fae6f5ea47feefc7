// k5sim: the simulated K5 amplifier on a pseudo-terminal, for trying the programs without
// the hardware. Prints the terminal's path (one per unit with --units) and serves until
// SIGINT or SIGTERM.

#include <signal.h>

#include <cstdio>
#include <iostream>
#include <span>

#include "k5/version.h"
#include "serialport/notices.h"
#include "sim/command_line.h"
#include "sim/sim_line.h"

int main(int argc, char** argv) {
    k5::SendNoticesToStandardError();
    const auto args = std::span<const char* const>(argv + 1, static_cast<size_t>(argc - 1));
    k5::sim::CommandLine line = k5::sim::ParseCommandLine(args);
    if (line.action == k5::sim::CommandLine::Action::Help) {
        std::cout << k5::sim::Usage();
        return 0;
    }
    if (line.action == k5::sim::CommandLine::Action::Version) {
        std::cout << "k5sim " << k5::kKitVersion << "\n";
        return 0;
    }
    if (line.action == k5::sim::CommandLine::Action::Error) {
        std::cerr << "k5sim: " << line.error << "\nTry 'k5sim --help'.\n";
        return 2;
    }

    // Block the stop signals before the serving thread starts, so that it inherits the mask
    // and only sigwait below ever sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::string error;
    auto units = k5::sim::SimulatedLine::Start(line.config, line.line, error);
    if (!units) {
        std::cerr << "k5sim: " << error << "\n";
        return 1;
    }
    for (size_t index = 0; index < units->Size(); ++index) {
        std::cout << units->Unit(index).DevicePath() << "\n";
    }
    std::cout << std::flush;

    int signal = 0;
    (void)sigwait(&stopSignals, &signal);
    units->Stop();
    return 0;
}
