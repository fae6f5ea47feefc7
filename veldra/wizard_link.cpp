#include "veldra/wizard_link.h"

#include "devlink/commands.h"
#include "serialport/serial_settings.h"

namespace k5::veldra {

WizardLink::WizardLink() {
    SelectAmplifierBaudRate(port_);
}

void MuteAmplifier(DeviceLink& link) {
    (void)link.SendCommand(cmd::kVolumeMinus20, cmd::kVolumeMinus20, 5);
    (void)link.SendCommand(cmd::kMuteOn, cmd::kMuteOn, 5);
}

}  // namespace k5::veldra
