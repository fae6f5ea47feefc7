#include "cli/k5ctl_ports.h"

#include <algorithm>

#include "cli/k5ctl_options.h"

namespace k5::cli {

namespace {

std::string Pad(std::string text, size_t width) {
    if (text.size() < width) {
        text.append(width - text.size(), ' ');
    }
    return text + "  ";
}

}  // namespace

std::string FormatPortListing(const std::vector<ComPortInfo>& ports,
                              const std::vector<std::pair<std::string, std::string>>& cannotOpen,
                              const std::string& tablePath) {
    std::string text;
    if (ports.empty()) {
        text += "No COM ports found.\n";
    }
    const auto nameOf = [](const ComPortInfo& port) {
        return port.number != 0 ? "COM" + std::to_string(port.number) : std::string("--");
    };
    size_t nameWidth = 0;
    size_t pathWidth = 0;
    for (const ComPortInfo& port : ports) {
        nameWidth = std::max(nameWidth, nameOf(port).size());
        pathWidth = std::max(pathWidth, port.devicePath.size());
    }
    for (const ComPortInfo& port : ports) {
        std::string about = port.description;
        if (!port.node.empty()) {
            about += (about.empty() ? "" : " ") + ("(" + port.node + ")");
        }
        if (!port.exists) {
            about = "not present";
        }
        const char* source =
            port.number != 0 ? ComPortSourceName(port.source) : "no number (table unusable)";
        std::string line = Pad(nameOf(port), nameWidth) + Pad(port.devicePath, pathWidth) +
                           Pad(source, 11) + about;
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + "\n";
    }
    for (const auto& [path, advice] : cannotOpen) {
        text += "You may not open " + path + ": " + advice + ".\n";
    }
    if (!tablePath.empty()) {
        text += "Port table: " + tablePath + "\n";
    }
    return text;
}

int RunPortsCommand(std::FILE* out) {
    const std::vector<ComPortInfo> ports = ListComPorts();
    const PortHints hints = ReadPortHints(ports);
    const std::string text = FormatPortListing(ports, hints.cannotOpen, hints.tablePath);
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
    return kExitOk;
}

}  // namespace k5::cli
