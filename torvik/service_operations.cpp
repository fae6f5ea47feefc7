#include "torvik/service_operations.h"

#include "devlink/frames.h"
#include "devlink/registers.h"

namespace k5::torvik {

void SetBurnInMode(DeviceLink& link, bool on) {
    link.SendModeControl(BuildBurnInFrame(on));
}

bool ResetRegistersToDefaults(DeviceLink& link) {
    return link.WriteRegister(kRegKey, kKeyRestoreDefaults) == 1;
}

std::string_view RegisterResetText(bool succeeded) {
    return succeeded ? "Set AMP regsiters to default values: OK"
                     : "Set AMP regsiters to default values: Error!";
}

}  // namespace k5::torvik
