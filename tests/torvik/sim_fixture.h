#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "devlink/device_link.h"
#include "devlink/serial_comm.h"
#include "serialport/cancel_event.h"
#include "sim/simulator.h"

namespace k5::torvik::test {

// The pauses of a run shrink to 1/100: a full configuration takes well under a second, and
// the standby switch-on pause of 18 s becomes 180 ms.
inline constexpr double kFastTimeScale = 0.01;

// A simulated K5 on a pseudo-terminal and an open link to it.
class SimLink {
public:
    explicit SimLink(sim::SimConfig config) : sim_(sim::Simulator::Start(std::move(config))) {
        if (!sim_) {
            return;
        }
        SelectAmplifierBaudRate(port_);
        port_.SetDevicePathOverride(sim_->DevicePath());
        opened_ = port_.Open() == 1;
        link_.SetTimeScale(kFastTimeScale);
    }
    ~SimLink() { port_.Close(); }

    // Tests ASSERT on this before using the link.
    bool Ready() const { return sim_ != nullptr && opened_; }

    sim::Simulator& Sim() { return *sim_; }
    DeviceLink& Link() { return link_; }
    CancelEvent& Cancel() { return cancel_; }

private:
    std::unique_ptr<sim::Simulator> sim_;
    CSerialComm port_;
    CancelEvent cancel_;
    DeviceLink link_{port_, cancel_};
    bool opened_ = false;
};

}  // namespace k5::torvik::test
