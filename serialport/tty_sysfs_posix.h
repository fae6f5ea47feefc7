#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace k5 {

// What sysfs and /dev under `root` tell about a machine's ttys, without opening a device:
// which nodes have hardware behind them, what that hardware calls itself, and which
// plug-in adapters there are. Paths are as seen from the root ("/dev/..."); paths that
// come from the environment are used as they are.
class TtySysfs {
public:
    struct Adapter {
        std::string name;       // "ttyUSB0"
        std::string key;        // its by-id path, else "/dev/<name>"
        std::string plainPath;  // "/dev/<name>"
    };

    explicit TtySysfs(std::filesystem::path root);

    // Whether a device path reaches a serial port: a UART with hardware behind it, a USB or
    // ACM device, or a pseudo-terminal.
    bool Exists(const std::string& devicePath, bool fromEnvironment) const;
    // "16550A UART" (", system console" when the kernel's console is on it), the adapter's USB
    // product name, "pseudo-terminal", or empty.
    std::string Description(const std::string& devicePath, bool fromEnvironment) const;
    // The tty name (relative to the root's /dev) that a path reaches, if any.
    std::optional<std::string> TtyName(const std::string& devicePath, bool fromEnvironment) const;
    // The node a symbolic link leads to ("/dev/ttyUSB0"); empty when the path is no link.
    std::string NodeBehindLink(const std::string& devicePath, bool fromEnvironment) const;
    // A built-in UART ("ttyS0") that has a node and hardware behind it.
    bool UartPresent(const std::string& ttyName) const;
    // Whether the kernel writes its console to this tty (console=ttyS0 on its command line).
    bool IsConsole(const std::string& ttyName) const;
    // Every serial device that is not a built-in UART, in natural name order.
    std::vector<Adapter> Adapters() const;

private:
    std::filesystem::path Physical(const std::string& devicePath, bool fromEnvironment) const;
    bool HasHardware(const std::string& ttyName) const;

    std::filesystem::path root_;
};

}  // namespace k5
