#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace k5 {

// Who may open a device node: its owner, group and mode, with their names.
struct DeviceAccess {
    uid_t owner = 0;
    gid_t group = 0;
    mode_t mode = 0;
    std::string ownerName;  // empty when the system has no name for it
    std::string groupName;
};

// What a user who may not open the device can do about it. Joining the device's group helps
// only when that group may read and write it, and the root group is never one to join; a
// device no group opens is described by its owner and mode instead. Both `k5ctl ports` and
// the port's open error give this advice.
std::string PermissionAdvice(const DeviceAccess& access);

// The access of the device node at `path` (following links, as an open does).
std::optional<DeviceAccess> ReadDeviceAccess(const std::string& path);

// The advice for the device at `path`, however little of it can be read.
std::string PermissionAdviceFor(const std::string& path);

}  // namespace k5
