#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "devlink/device_link.h"
#include "sim/simulator.h"

namespace k5::bench {

// A simulated K5 reading 760/760 and an open link to it, as both benchmarks measure against.
struct SimLine {
    std::unique_ptr<sim::Simulator> sim;
    CSerialComm port;
    CancelEvent cancel;
    DeviceLink link{port, cancel};

    // Nullptr, with the reason on standard error, when the simulator or the port fails.
    static std::unique_ptr<SimLine> Open() {
        auto line = std::make_unique<SimLine>();
        std::string error;
        line->sim = sim::Simulator::Start({.left = 760, .right = 760}, error);
        if (!line->sim) {
            std::fprintf(stderr, "cannot start the simulator: %s\n", error.c_str());
            return nullptr;
        }
        SelectAmplifierBaudRate(line->port);
        line->port.SetDevicePathOverride(line->sim->DevicePath());
        if (!line->port.Open()) {
            std::fprintf(stderr, "cannot open %s: %s\n", line->sim->DevicePath().c_str(),
                         line->port.LastErrorText().c_str());
            return nullptr;
        }
        return line;
    }
};

}  // namespace k5::bench
