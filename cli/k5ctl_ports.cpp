#include "cli/k5ctl_ports.h"

#include <algorithm>

#include "cli/k5ctl_options.h"

#ifndef _WIN32
#include <unistd.h>

#include <cerrno>

#include "serialport/com_port_system.h"
#include "serialport/device_access_posix.h"
#endif

namespace k5::cli {

namespace {

std::string Pad(std::string text, size_t width) {
    if (text.size() < width) {
        text.append(width - text.size(), ' ');
    }
    return text + "  ";
}

#ifndef _WIN32
// What to do about a device this user may not open; nothing is opened to find out.
std::optional<std::string> AccessAdvice(const std::string& path) {
    if (::access(path.c_str(), R_OK | W_OK) == 0 || errno != EACCES) {
        return std::nullopt;
    }
    return PermissionAdviceFor(path);
}
#endif

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
    std::vector<std::pair<std::string, std::string>> cannotOpen;
    std::string tablePath;
#ifndef _WIN32
    for (const ComPortInfo& port : ports) {
        if (!port.exists) {
            continue;
        }
        if (auto advice = AccessAdvice(port.devicePath)) {
            cannotOpen.emplace_back(port.devicePath, std::move(*advice));
        }
    }
    const auto folder = ComPortSystem::DefaultConfigDir();
    if (!folder.empty()) {
        tablePath = ComPortSystem::TablePathIn(folder).string();
    }
#endif
    const std::string text = FormatPortListing(ports, cannotOpen, tablePath);
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
    return kExitOk;
}

}  // namespace k5::cli
