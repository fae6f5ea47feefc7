#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "serialport/com_port.h"

namespace k5 {

// The kit's port table: "COM<n> = <path>" lines, one per adapter, keyed by the adapter's
// stable /dev/serial/by-id path where it has one. Blank lines and "#" comments are allowed.
struct PortTable {
    std::map<unsigned, std::string> entries;
    bool usable = true;  // false: unreadable or malformed; it is then ignored and never written
    std::string problem;
};

PortTable ParsePortTable(const std::string& text);
std::string FormatPortTable(const PortTable& table);

// How Linux provides COM ports, answered from sysfs and /dev under `root` and from the port
// table in `configDir`. The programs use root "/" and the user's configuration folder; tests
// build a fake tree. Paths in results and in the table are as seen from `root` ("/dev/...");
// paths from K5_COM<n> are used as they are.
class ComPortSystem {
public:
    ComPortSystem(std::filesystem::path root, std::filesystem::path configDir);

    // $XDG_CONFIG_HOME/k5kit, else ~/.config/k5kit.
    static std::filesystem::path DefaultConfigDir();
    static std::filesystem::path TablePathIn(const std::filesystem::path& configDir) {
        return configDir / "ports.conf";
    }
    std::filesystem::path TablePath() const { return TablePathIn(configDir_); }

    ComPortInfo Describe(unsigned portNumber) const;
    std::vector<ComPortInfo> List() const;

    // Whether a device path reaches a serial port (see PortExists); `fromEnvironment` paths
    // are not under the root.
    bool Exists(const std::string& devicePath, bool fromEnvironment) const;
    std::string Description(const std::string& devicePath, bool fromEnvironment) const;

    // A port table that cannot be read or parsed is reported once per process and path.
    PortTable ReadTable() const;

private:
    struct Adapter {
        std::string name;       // "ttyUSB0"
        std::string key;        // its by-id path, else "/dev/<name>"
        std::string plainPath;  // "/dev/<name>"
    };

    std::filesystem::path Physical(const std::string& devicePath, bool fromEnvironment) const;
    // The tty name (relative to the root's /dev) that a path reaches, if any.
    std::optional<std::string> TtyName(const std::string& devicePath, bool fromEnvironment) const;
    bool HasHardware(const std::string& ttyName) const;
    bool UartPresent(unsigned portNumber) const;
    std::vector<Adapter> Adapters() const;
    // Numbers adapters missing from the table; writes the table when it changed.
    void NumberNewAdapters(const std::vector<Adapter>& adapters) const;
    ComPortInfo Resolve(unsigned portNumber, const PortTable& table) const;

    std::filesystem::path root_;
    std::filesystem::path configDir_;
};

}  // namespace k5
