// The ttys of a Linux machine as sysfs and udev's /dev/serial/by-id show them.
#include "serialport/tty_sysfs_posix.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>
#include <system_error>

#include "serialport/bounded_file_posix.h"
#include "serialport/port_table.h"

namespace k5 {

namespace fs = std::filesystem;

namespace {

// The kernel gives every sysfs attribute file a size of one page.
constexpr std::size_t kSysfsAttributeLimit = 4096;

// An attribute's value without its line feed; nothing when there is no such attribute.
std::optional<std::string> Attribute(const fs::path& path) {
    BoundedRead read = ReadBoundedFile(path.string(), kSysfsAttributeLimit);
    if (read.status != BoundedRead::Status::Read) {
        return std::nullopt;
    }
    return Trim(read.text);
}

// Unix98 pseudo-terminal slaves: majors 136 to 143.
bool IsPseudoTerminal(const struct stat& info) {
    return S_ISCHR(info.st_mode) && major(info.st_rdev) >= 136 && major(info.st_rdev) <= 143;
}

// The UART types of the kernel's serial core, by the number in sysfs "type".
std::string UartDescription(int type) {
    static constexpr std::array<const char*, 14> kNames = {
        nullptr,     "8250",  "16450",    "16550",      "16550A",  "Cirrus",  "ST16650",
        "ST16650V2", "16750", "Startech", "16C950/954", "ST16654", "XR16850", "RSA"};
    if (type > 0 && static_cast<size_t>(type) < kNames.size()) {
        return std::string(kNames[static_cast<size_t>(type)]) + " UART";
    }
    return "UART";
}

// ttyS2 < ttyS10 < ttyUSB0: the name's letters, then its number.
bool NaturalLess(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& s) {
        const auto digits = s.find_last_not_of("0123456789") + 1;
        unsigned long number = 0;
        std::from_chars(s.data() + digits, s.data() + s.size(), number);
        return std::pair(s.substr(0, digits), number);
    };
    return split(a) < split(b);
}

}  // namespace

TtySysfs::TtySysfs(fs::path root) : root_(std::move(root)) {}

fs::path TtySysfs::Physical(const std::string& devicePath, bool fromEnvironment) const {
    if (fromEnvironment || root_ == "/") {
        return devicePath;
    }
    return root_ / fs::path(devicePath).relative_path();
}

std::optional<std::string> TtySysfs::TtyName(const std::string& devicePath,
                                             bool fromEnvironment) const {
    std::error_code ec;
    const fs::path target = fs::canonical(Physical(devicePath, fromEnvironment), ec);
    if (ec) {
        return std::nullopt;
    }
    const fs::path devices = fs::canonical(root_ / "dev", ec);
    if (ec || target.parent_path() != devices) {
        return std::nullopt;
    }
    return target.filename().string();
}

bool TtySysfs::HasHardware(const std::string& ttyName) const {
    const fs::path entry = root_ / "sys/class/tty" / ttyName;
    std::error_code ec;
    // Virtual consoles, /dev/tty and pseudo-terminals have no device behind their entry.
    if (ttyName.empty() || !fs::exists(entry / "device", ec)) {
        return false;
    }
    // The serial core lists a port for every configured UART slot; "type" 0 is a slot with no
    // UART behind it. USB and ACM devices have no "type".
    if (const auto type = Attribute(entry / "type")) {
        return *type != "0" && !type->empty();
    }
    return true;
}

bool TtySysfs::UartPresent(const std::string& ttyName) const {
    std::error_code ec;
    return HasHardware(ttyName) && fs::exists(root_ / "dev" / ttyName, ec);
}

bool TtySysfs::Exists(const std::string& devicePath, bool fromEnvironment) const {
    if (devicePath.empty()) {
        return false;
    }
    struct stat info {};
    if (::stat(Physical(devicePath, fromEnvironment).c_str(), &info) != 0 ||
        S_ISDIR(info.st_mode)) {
        return false;
    }
    if (IsPseudoTerminal(info)) {
        return true;
    }
    const auto name = TtyName(devicePath, fromEnvironment);
    return name && HasHardware(*name);
}

std::string TtySysfs::Description(const std::string& devicePath, bool fromEnvironment) const {
    struct stat info {};
    if (::stat(Physical(devicePath, fromEnvironment).c_str(), &info) == 0 &&
        IsPseudoTerminal(info)) {
        return "pseudo-terminal";
    }
    const auto name = TtyName(devicePath, fromEnvironment);
    if (!name || !HasHardware(*name)) {
        return {};
    }
    const fs::path entry = root_ / "sys/class/tty" / *name;
    if (const auto type = Attribute(entry / "type")) {
        int number = 0;
        std::from_chars(type->data(), type->data() + type->size(), number);
        return UartDescription(number) + (IsConsole(*name) ? ", system console" : "");
    }
    // A USB adapter names itself in its USB device's "product", a few levels above the tty.
    std::error_code ec;
    const fs::path sys = fs::canonical(root_ / "sys", ec);
    fs::path folder = fs::canonical(entry / "device", ec);
    for (int level = 0; !ec && level < 6 && folder.string().size() > sys.string().size();
         ++level, folder = folder.parent_path()) {
        if (const auto product = Attribute(folder / "product")) {
            return *product;
        }
    }
    return {};
}

bool TtySysfs::IsConsole(const std::string& ttyName) const {
    // The console's ttys, separated by spaces: "tty0 ttyS0".
    const auto active = Attribute(root_ / "sys/class/tty/console/active");
    if (!active || ttyName.empty()) {
        return false;
    }
    std::string_view rest = *active;
    while (!rest.empty()) {
        const size_t end = std::min(rest.find(' '), rest.size());
        if (rest.substr(0, end) == ttyName) {
            return true;
        }
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return false;
}

std::string TtySysfs::NodeBehindLink(const std::string& devicePath, bool fromEnvironment) const {
    std::error_code ec;
    const fs::path physical = Physical(devicePath, fromEnvironment);
    if (!fs::is_symlink(physical, ec)) {
        return {};
    }
    const fs::path target = fs::canonical(physical, ec);
    if (ec) {
        return {};
    }
    const fs::path devices = fs::canonical(root_ / "dev", ec);
    return !fromEnvironment && !ec && target.parent_path() == devices
               ? "/dev/" + target.filename().string()
               : target.string();
}

std::vector<TtySysfs::Adapter> TtySysfs::Adapters() const {
    std::vector<Adapter> adapters;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root_ / "sys/class/tty", ec)) {
        const std::string name = entry.path().filename().string();
        const bool builtInUart = name.rfind("ttyS", 0) == 0 && name.size() > 4 &&
                                 name.find_first_not_of("0123456789", 4) == std::string::npos;
        std::error_code nodeError;
        if (builtInUart || !HasHardware(name) || !fs::exists(root_ / "dev" / name, nodeError)) {
            continue;
        }
        adapters.push_back({name, "/dev/" + name, "/dev/" + name});
    }
    std::sort(adapters.begin(), adapters.end(),
              [](const Adapter& a, const Adapter& b) { return NaturalLess(a.name, b.name); });

    // Prefer the stable name udev gives each adapter under /dev/serial/by-id.
    for (const auto& link : fs::directory_iterator(root_ / "dev/serial/by-id", ec)) {
        std::error_code linkError;
        const fs::path target = fs::canonical(link.path(), linkError);
        for (Adapter& adapter : adapters) {
            std::error_code nodeError;
            if (!linkError && target == fs::canonical(root_ / "dev" / adapter.name, nodeError)) {
                const std::string key = "/dev/serial/by-id/" + link.path().filename().string();
                if (adapter.key == adapter.plainPath || key < adapter.key) {
                    adapter.key = key;  // the same choice every time if there are two
                }
            }
        }
    }
    return adapters;
}

}  // namespace k5
