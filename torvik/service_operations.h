#pragma once

#include <string_view>

#include "devlink/device_link.h"

namespace k5::torvik {

// Switches the amplifier's burn-in mode. Nothing is reported: the amplifier's reply is read
// and discarded, and on a closed port nothing is sent.
void SetBurnInMode(DeviceLink& link, bool on);

// Sends the restore-defaults command to the key register. True when the amplifier answered
// the write with a valid reply.
bool ResetRegistersToDefaults(DeviceLink& link);

// "Set AMP regsiters to default values: OK" or "...: Error!".
std::string_view RegisterResetText(bool succeeded);

}  // namespace k5::torvik
