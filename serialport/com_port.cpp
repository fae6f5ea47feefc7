#include "serialport/com_port.h"

namespace k5 {

std::string ComPortToolTip(const ComPortInfo& info) {
    if (info.source == ComPortSource::None || info.devicePath.empty()) {
        return "No device";
    }
    std::string text = info.devicePath;
    if (!info.node.empty() && info.node != info.devicePath) {
        text += " (" + info.node + ")";
    }
    if (!info.description.empty()) {
        text += " - " + info.description;
    }
    if (!info.exists) {
        text += " - not present";
    }
    return text;
}

const char* ComPortSourceName(ComPortSource source) {
    switch (source) {
        case ComPortSource::None:
            return "-";
        case ComPortSource::Environment:
            return "environment";
        case ComPortSource::Table:
            return "port table";
        case ComPortSource::System:
            return "UART";
    }
    return "-";
}

}  // namespace k5
