#include <unistd.h>

#include <cerrno>

#include "cli/k5ctl_ports.h"
#include "serialport/com_port_system.h"
#include "serialport/device_access_posix.h"

namespace k5::cli {

PortHints ReadPortHints(const std::vector<ComPortInfo>& ports) {
    PortHints hints;
    for (const ComPortInfo& port : ports) {
        // Nothing is opened to find out.
        if (!port.exists || ::access(port.devicePath.c_str(), R_OK | W_OK) == 0 ||
            errno != EACCES) {
            continue;
        }
        hints.cannotOpen.emplace_back(port.devicePath, PermissionAdviceFor(port.devicePath));
    }
    const auto folder = ComPortSystem::DefaultConfigDir();
    if (!folder.empty()) {
        hints.tablePath = ComPortSystem::TablePathIn(folder).string();
    }
    return hints;
}

}  // namespace k5::cli
