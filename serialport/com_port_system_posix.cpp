// COM numbers on Linux: the environment's mappings, then the kit's port table that keeps
// the numbers of plug-in adapters the way Windows keeps them, then the built-in UARTs.
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <set>

#include "serialport/com_port_system.h"

namespace k5 {

namespace fs = std::filesystem;

namespace {

const char* EnvironmentMapping(unsigned portNumber) {
    const std::string variable = "K5_COM" + std::to_string(portNumber);
    const char* mapped = std::getenv(variable.c_str());
    return mapped != nullptr && *mapped != '\0' ? mapped : nullptr;
}

}  // namespace

ComPortSystem::ComPortSystem(fs::path root, fs::path configDir)
    : ttys_(std::move(root)), store_(std::move(configDir)) {}

fs::path ComPortSystem::DefaultConfigDir() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        return fs::path(xdg) / "k5kit";
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        const passwd* user = ::getpwuid(::getuid());
        home = user != nullptr ? user->pw_dir : nullptr;
    }
    return home != nullptr ? fs::path(home) / ".config" / "k5kit" : fs::path();
}

bool ComPortSystem::Exists(const std::string& devicePath, bool fromEnvironment) const {
    return ttys_.Exists(devicePath, fromEnvironment);
}

std::string ComPortSystem::Description(const std::string& devicePath, bool fromEnvironment) const {
    return ttys_.Description(devicePath, fromEnvironment);
}

PortTable ComPortSystem::ReadTable() const {
    return store_.Read();
}

bool ComPortSystem::UartPresent(unsigned portNumber) const {
    return portNumber != 0 && ttys_.UartPresent("ttyS" + std::to_string(portNumber - 1));
}

void ComPortSystem::NumberNewAdapters(const std::vector<TtySysfs::Adapter>& adapters) const {
    if (adapters.empty()) {
        return;
    }
    // Adapters that K5_COM<n> already names keep that number and are not entered.
    std::set<unsigned> environmentNumbers;
    std::set<std::optional<std::string>> environmentTargets;
    for (unsigned n = 1; n <= kHighestComPort; ++n) {
        if (const char* mapped = EnvironmentMapping(n)) {
            environmentNumbers.insert(n);
            environmentTargets.insert(ttys_.TtyName(mapped, true));
        }
    }
    const auto missing = [&](const PortTable& table) {
        std::vector<const TtySysfs::Adapter*> result;
        for (const TtySysfs::Adapter& adapter : adapters) {
            const bool known =
                std::any_of(table.entries.begin(), table.entries.end(), [&](const auto& e) {
                    return e.second == adapter.key || e.second == adapter.plainPath;
                });
            if (!known && environmentTargets.count(adapter.name) == 0) {
                result.push_back(&adapter);
            }
        }
        return result;
    };

    const PortTable table = ReadTable();
    if (!table.usable || missing(table).empty()) {
        return;
    }
    store_.Update([&](PortTable& current) {
        const auto toNumber = missing(current);
        if (toNumber.empty()) {
            return false;
        }
        unsigned candidate = 1;
        for (const TtySysfs::Adapter* adapter : toNumber) {
            while (candidate <= kHighestComPort &&
                   (current.entries.count(candidate) != 0 ||
                    environmentNumbers.count(candidate) != 0 || UartPresent(candidate))) {
                ++candidate;
            }
            if (candidate > kHighestComPort) {
                break;
            }
            current.entries[candidate] = adapter->key;
        }
        return true;
    });
}

ComPortInfo ComPortSystem::Resolve(unsigned portNumber, const PortTable& table) const {
    ComPortInfo info;
    info.number = portNumber;
    bool fromEnvironment = false;
    if (portNumber == 0) {
        return info;
    }
    if (const char* mapped = EnvironmentMapping(portNumber)) {
        info.source = ComPortSource::Environment;
        info.devicePath = mapped;
        fromEnvironment = true;
    } else if (const auto entry = table.entries.find(portNumber); entry != table.entries.end()) {
        info.source = ComPortSource::Table;
        info.devicePath = entry->second;
    } else if (UartPresent(portNumber)) {
        info.source = ComPortSource::System;
        info.devicePath = "/dev/ttyS" + std::to_string(portNumber - 1);
    } else {
        return info;
    }
    info.exists = ttys_.Exists(info.devicePath, fromEnvironment);
    info.description = ttys_.Description(info.devicePath, fromEnvironment);
    info.node = ttys_.NodeBehindLink(info.devicePath, fromEnvironment);
    return info;
}

ComPortInfo ComPortSystem::Describe(unsigned portNumber) const {
    return Resolve(portNumber, ReadTable());
}

std::vector<ComPortInfo> ComPortSystem::List() const {
    const std::vector<TtySysfs::Adapter> adapters = ttys_.Adapters();
    NumberNewAdapters(adapters);
    const PortTable table = ReadTable();
    std::vector<ComPortInfo> ports;
    std::set<std::string> reached;
    for (unsigned n = 1; n <= kHighestComPort; ++n) {
        ComPortInfo info = Resolve(n, table);
        if (info.source != ComPortSource::None) {
            if (const auto name =
                    ttys_.TtyName(info.devicePath, info.source == ComPortSource::Environment)) {
                reached.insert(*name);
            }
            ports.push_back(std::move(info));
        }
    }
    // Adapters left without a number (the table is unusable or full) are still shown.
    for (const TtySysfs::Adapter& adapter : adapters) {
        if (reached.count(adapter.name) == 0) {
            ComPortInfo info;
            info.devicePath = adapter.key;
            info.exists = true;
            info.description = ttys_.Description(adapter.key, false);
            if (adapter.key != adapter.plainPath) {
                info.node = adapter.plainPath;
            }
            ports.push_back(std::move(info));
        }
    }
    return ports;
}

}  // namespace k5
