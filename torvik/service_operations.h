#pragma once

#include <string_view>

#include "devlink/device_link.h"

namespace k5::torvik {

// Switches the amplifier's burn-in mode: sends the mode-control frame and reads up to 7 bytes
// of reply. True when the reply is the frame itself, the amplifier's echo; false on a closed
// port (nothing is sent), without a reply or with another one. The window gives no
// feedback either way.
bool SetBurnInMode(DeviceLink& link, bool on);

// Sends the restore-defaults command to the key register. True when the amplifier answered
// the write with a valid reply.
bool ResetRegistersToDefaults(DeviceLink& link);

// "Set AMP regsiters to default values: OK" or "...: Error!".
std::string_view RegisterResetText(bool succeeded);

}  // namespace k5::torvik
