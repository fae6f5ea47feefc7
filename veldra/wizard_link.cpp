#include "veldra/wizard_link.h"

#include "devlink/commands.h"
#include "devlink/serial_settings.h"

namespace k5::veldra {

WizardLink::WizardLink() {
    SerialSettings settings;
    port_.GetSettings(settings);
    settings.baudRateIndex = kBaudIndex115200;
    port_.SetSettings(settings);
}

void MuteAmplifier(DeviceLink& link) {
    (void)link.SendCommand(cmd::kVolumeMinus20, cmd::kVolumeMinus20, 5);
    (void)link.SendCommand(cmd::kMuteOn, cmd::kMuteOn, 5);
}

}  // namespace k5::veldra
