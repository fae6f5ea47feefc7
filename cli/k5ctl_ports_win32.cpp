#include "cli/k5ctl_ports.h"

namespace k5::cli {

// Windows decides who may open a COM port and keeps no table of the kit's.
PortHints ReadPortHints(const std::vector<ComPortInfo>&) {
    return {};
}

}  // namespace k5::cli
