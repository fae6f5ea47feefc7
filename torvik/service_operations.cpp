#include "torvik/service_operations.h"

#include "devlink/frames.h"
#include "devlink/registers.h"

namespace k5::torvik {

bool SetBurnInMode(DeviceLink& link, bool on) {
    const ModeControlFrame frame = BuildBurnInFrame(on);
    CSerialComm& port = link.Port();
    port.Purge();
    if (!port.IsOpen()) {
        return false;
    }
    // No pause between write and read: the read's own time-outs give the amplifier its time.
    (void)port.Write(frame.data(), static_cast<uint32_t>(frame.size()));
    ModeControlFrame reply{};
    const uint32_t received = port.Read(reply.data(), static_cast<uint32_t>(reply.size()));
    return received == reply.size() && reply == frame;
}

bool ResetRegistersToDefaults(DeviceLink& link) {
    return link.WriteRegister(kRegKey, kKeyRestoreDefaults) == 1;
}

std::string_view RegisterResetText(bool succeeded) {
    return succeeded ? "Set AMP regsiters to default values: OK"
                     : "Set AMP regsiters to default values: Error!";
}

}  // namespace k5::torvik
