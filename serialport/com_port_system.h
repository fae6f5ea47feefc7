#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "serialport/com_port.h"
#include "serialport/port_table.h"
#include "serialport/port_table_store_posix.h"
#include "serialport/tty_sysfs_posix.h"

namespace k5 {

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
        return configDir / kPortTableFileName;
    }
    std::filesystem::path TablePath() const { return store_.Path(); }

    ComPortInfo Describe(unsigned portNumber) const;
    std::vector<ComPortInfo> List() const;

    // Whether a device path reaches a serial port (see PortExists); `fromEnvironment` paths
    // are not under the root.
    bool Exists(const std::string& devicePath, bool fromEnvironment) const;
    std::string Description(const std::string& devicePath, bool fromEnvironment) const;

    // A port table that cannot be read or parsed is reported once per process and path.
    PortTable ReadTable() const;

private:
    bool UartPresent(unsigned portNumber) const;
    // Numbers adapters missing from the table; writes the table when it changed.
    void NumberNewAdapters(const std::vector<TtySysfs::Adapter>& adapters) const;
    ComPortInfo Resolve(unsigned portNumber, const PortTable& table) const;

    TtySysfs ttys_;
    PortTableStore store_;
};

}  // namespace k5
