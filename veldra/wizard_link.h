#pragma once

#include "devlink/device_link.h"
#include "devlink/serial_comm.h"
#include "serialport/cancel_event.h"

namespace k5::veldra {

// The frame's port record and cancel event as the wizard sets them up: COM1 until detection
// chooses a port, 115200 baud, two attempts per text command. The owner closes the port;
// workers use it only while they run.
class WizardLink {
public:
    WizardLink();
    WizardLink(const WizardLink&) = delete;
    WizardLink& operator=(const WizardLink&) = delete;

    CSerialComm& Port() { return port_; }
    CancelEvent& Cancel() { return cancel_; }
    DeviceLink& Link() { return link_; }

private:
    CSerialComm port_{1};
    CancelEvent cancel_;
    DeviceLink link_{port_, cancel_, DeviceLink::kWizardAttempts};
};

// Turns the amplifier down to -20 dB and mutes it; both answers are ignored. The frame sends
// it after a failed or cancelled run, before it closes the port, and only while no worker
// uses the link.
void MuteAmplifier(DeviceLink& link);

}  // namespace k5::veldra
