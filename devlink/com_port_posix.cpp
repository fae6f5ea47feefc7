#include <sys/stat.h>

#include <cstdlib>

#include "devlink/com_port.h"

namespace k5 {

std::string ComPortDevicePath(unsigned portNumber) {
    const std::string variable = "K5_COM" + std::to_string(portNumber);
    if (const char* mapped = std::getenv(variable.c_str()); mapped != nullptr && *mapped != '\0') {
        return mapped;
    }
    if (portNumber == 0) {
        return {};  // there is no COM0
    }
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

int PortExists(unsigned portNumber) {
    const std::string path = ComPortDevicePath(portNumber);
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode) ? 1 : 0;
}

}  // namespace k5
