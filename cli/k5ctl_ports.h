#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "serialport/com_port.h"

namespace k5::cli {

// The listing of `k5ctl ports`: one line per COM number, then the hints. `cannotOpen` are the
// devices the user has no right to open, with what to do about it.
std::string FormatPortListing(const std::vector<ComPortInfo>& ports,
                              const std::vector<std::pair<std::string, std::string>>& cannotOpen,
                              const std::string& tablePath);

// What the listing adds below the ports on this system: the devices this user may not open,
// each with what to do about it, and where the port table is (empty where there is none).
struct PortHints {
    std::vector<std::pair<std::string, std::string>> cannotOpen;
    std::string tablePath;
};
PortHints ReadPortHints(const std::vector<ComPortInfo>& ports);

// Lists this machine's COM ports on `out`; exit 0.
int RunPortsCommand(std::FILE* out);

}  // namespace k5::cli
