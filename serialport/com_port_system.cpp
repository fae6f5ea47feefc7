// COM numbers on Linux, answered from sysfs without opening a device, and the kit's port
// table that keeps the numbers of plug-in adapters the way Windows keeps them.
#include "serialport/com_port_system.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

namespace k5 {

namespace fs = std::filesystem;

namespace {

constexpr unsigned kHighestPort = 255;  // the port record keeps an 8-bit number

std::string Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

std::optional<std::string> ReadSmallFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const char* EnvironmentMapping(unsigned portNumber) {
    const std::string variable = "K5_COM" + std::to_string(portNumber);
    const char* mapped = std::getenv(variable.c_str());
    return mapped != nullptr && *mapped != '\0' ? mapped : nullptr;
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

void ReportOnce(const std::string& key, const std::string& message) {
    static std::mutex mutex;
    static std::set<std::string> reported;
    std::lock_guard lock(mutex);
    if (reported.insert(key).second) {
        std::fprintf(stderr, "%s\n", message.c_str());
    }
}

// Holds flock() on the configuration folder, so two programs numbering adapters at once
// cannot give one number twice. Gives up after two seconds rather than hang a program.
class FolderLock {
public:
    explicit FolderLock(const fs::path& folder)
        : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        using namespace std::chrono_literals;
        for (int attempt = 0; fd_ >= 0 && attempt < 200; ++attempt) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                locked_ = true;
                return;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) {
                return;
            }
            std::this_thread::sleep_for(10ms);
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) {
            ::close(fd_);  // releases the lock
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool Locked() const { return locked_; }

private:
    int fd_;
    bool locked_ = false;
};

// Writes `text` to `path` through a temporary file in the same folder and a rename, so a
// reader sees the old table or the new one, never a part.
bool WriteAtomically(const fs::path& path, const std::string& text, std::string& why) {
    const fs::path temporary = path.string() + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = std::generic_category().message(errno);
        return false;
    }
    size_t done = 0;
    bool ok = true;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            ok = false;
        }
    }
    ok = ok && ::fsync(fd) == 0;
    if (!ok) {
        why = std::generic_category().message(errno);
    }
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        why = std::generic_category().message(errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
    }
    return ok;
}

}  // namespace

PortTable ParsePortTable(const std::string& text) {
    PortTable table;
    std::set<std::string> paths;
    std::istringstream lines(text);
    std::string raw;
    for (int lineNumber = 1; std::getline(lines, raw); ++lineNumber) {
        const std::string line = Trim(raw);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto refuse = [&](const std::string& why) {
            table.entries.clear();
            table.usable = false;
            table.problem = "line " + std::to_string(lineNumber) + ": " + why;
            return table;
        };
        const auto equals = line.find('=');
        const std::string name = Trim(line.substr(0, equals));
        const std::string path = equals == std::string::npos ? "" : Trim(line.substr(equals + 1));
        unsigned number = 0;
        const char* digits = name.data() + std::min<size_t>(3, name.size());
        const auto [end, ec] = std::from_chars(digits, name.data() + name.size(), number);
        if (equals == std::string::npos || name.size() < 4 ||
            (name.compare(0, 3, "COM") != 0 && name.compare(0, 3, "com") != 0) ||
            ec != std::errc() || end != name.data() + name.size() || *digits == '+' ||
            number == 0 || number > kHighestPort || path.empty() || path.front() != '/') {
            return refuse("expected \"COM<n> = <device path>\" with n from 1 to 255");
        }
        if (table.entries.count(number) != 0) {
            return refuse("COM" + std::to_string(number) + " is given twice");
        }
        if (!paths.insert(path).second) {
            return refuse(path + " is given twice");
        }
        table.entries[number] = path;
    }
    return table;
}

std::string FormatPortTable(const PortTable& table) {
    std::string text =
        "# COM port numbers of serial adapters, kept by the K5 service kit.\n"
        "# One \"COM<n> = <device path>\" line per adapter; edit with care.\n";
    for (const auto& [number, path] : table.entries) {
        text += "COM" + std::to_string(number) + " = " + path + "\n";
    }
    return text;
}

ComPortSystem::ComPortSystem(fs::path root, fs::path configDir)
    : root_(std::move(root)), configDir_(std::move(configDir)) {}

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

fs::path ComPortSystem::Physical(const std::string& devicePath, bool fromEnvironment) const {
    if (fromEnvironment || root_ == "/") {
        return devicePath;
    }
    return root_ / fs::path(devicePath).relative_path();
}

std::optional<std::string> ComPortSystem::TtyName(const std::string& devicePath,
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

bool ComPortSystem::HasHardware(const std::string& ttyName) const {
    const fs::path entry = root_ / "sys/class/tty" / ttyName;
    std::error_code ec;
    // Virtual consoles, /dev/tty and pseudo-terminals have no device behind their entry.
    if (ttyName.empty() || !fs::exists(entry / "device", ec)) {
        return false;
    }
    // The serial core lists a port for every configured UART slot; "type" 0 is a slot with no
    // UART behind it. USB and ACM devices have no "type".
    if (const auto type = ReadSmallFile(entry / "type")) {
        return Trim(*type) != "0" && !Trim(*type).empty();
    }
    return true;
}

bool ComPortSystem::UartPresent(unsigned portNumber) const {
    if (portNumber == 0) {
        return false;
    }
    const std::string name = "ttyS" + std::to_string(portNumber - 1);
    std::error_code ec;
    return HasHardware(name) && fs::exists(root_ / "dev" / name, ec);
}

bool ComPortSystem::Exists(const std::string& devicePath, bool fromEnvironment) const {
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

std::string ComPortSystem::Description(const std::string& devicePath, bool fromEnvironment) const {
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
    if (const auto type = ReadSmallFile(entry / "type")) {
        int number = 0;
        const std::string text = Trim(*type);
        std::from_chars(text.data(), text.data() + text.size(), number);
        return UartDescription(number);
    }
    // A USB adapter names itself in its USB device's "product", a few levels above the tty.
    std::error_code ec;
    const fs::path sys = fs::canonical(root_ / "sys", ec);
    fs::path folder = fs::canonical(entry / "device", ec);
    for (int level = 0; !ec && level < 6 && folder.string().size() > sys.string().size();
         ++level, folder = folder.parent_path()) {
        if (const auto product = ReadSmallFile(folder / "product")) {
            return Trim(*product);
        }
    }
    return {};
}

PortTable ComPortSystem::ReadTable() const {
    if (configDir_.empty()) {
        return {};
    }
    const fs::path path = TablePath();
    std::error_code ec;
    if (!fs::exists(path, ec) && !ec) {
        return {};
    }
    PortTable table;
    if (const auto text = ReadSmallFile(path)) {
        table = ParsePortTable(*text);
    } else {
        table.usable = false;
        table.problem = "cannot be read";
    }
    if (!table.usable) {
        ReportOnce(path.string(), "k5kit: ignoring the port table " + path.string() + " (" +
                                      table.problem + "); it is left as it is");
    }
    return table;
}

std::vector<ComPortSystem::Adapter> ComPortSystem::Adapters() const {
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

void ComPortSystem::NumberNewAdapters(const std::vector<Adapter>& adapters) const {
    if (adapters.empty() || configDir_.empty()) {
        return;
    }
    // Adapters that K5_COM<n> already names keep that number and are not entered.
    std::set<unsigned> environmentNumbers;
    std::set<std::optional<std::string>> environmentTargets;
    for (unsigned n = 1; n <= kHighestPort; ++n) {
        if (const char* mapped = EnvironmentMapping(n)) {
            environmentNumbers.insert(n);
            environmentTargets.insert(TtyName(mapped, true));
        }
    }
    const auto missing = [&](const PortTable& table) {
        std::vector<const Adapter*> result;
        for (const Adapter& adapter : adapters) {
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

    PortTable table = ReadTable();
    if (!table.usable || missing(table).empty()) {
        return;
    }
    std::error_code ec;
    fs::create_directories(configDir_, ec);
    FolderLock lock(configDir_);
    if (!lock.Locked()) {
        ReportOnce(configDir_.string() + "#lock",
                   "k5kit: cannot lock " + configDir_.string() + "; new adapters get no number");
        return;
    }
    table = ReadTable();  // another program may have numbered some meanwhile
    const auto toNumber = missing(table);
    if (!table.usable || toNumber.empty()) {
        return;
    }
    unsigned candidate = 1;
    for (const Adapter* adapter : toNumber) {
        while (candidate <= kHighestPort &&
               (table.entries.count(candidate) != 0 || environmentNumbers.count(candidate) != 0 ||
                UartPresent(candidate))) {
            ++candidate;
        }
        if (candidate > kHighestPort) {
            break;
        }
        table.entries[candidate] = adapter->key;
    }
    std::string why;
    if (!WriteAtomically(TablePath(), FormatPortTable(table), why)) {
        ReportOnce(TablePath().string() + "#write",
                   "k5kit: cannot write the port table " + TablePath().string() + ": " + why);
    }
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
    info.exists = Exists(info.devicePath, fromEnvironment);
    info.description = Description(info.devicePath, fromEnvironment);
    std::error_code ec;
    const fs::path physical = Physical(info.devicePath, fromEnvironment);
    if (fs::is_symlink(physical, ec)) {
        const fs::path target = fs::canonical(physical, ec);
        if (!ec) {
            const fs::path devices = fs::canonical(root_ / "dev", ec);
            info.node = !fromEnvironment && !ec && target.parent_path() == devices
                            ? "/dev/" + target.filename().string()
                            : target.string();
        }
    }
    return info;
}

ComPortInfo ComPortSystem::Describe(unsigned portNumber) const {
    return Resolve(portNumber, ReadTable());
}

std::vector<ComPortInfo> ComPortSystem::List() const {
    const std::vector<Adapter> adapters = Adapters();
    NumberNewAdapters(adapters);
    const PortTable table = ReadTable();
    std::vector<ComPortInfo> ports;
    std::set<std::string> reached;
    for (unsigned n = 1; n <= kHighestPort; ++n) {
        ComPortInfo info = Resolve(n, table);
        if (info.source != ComPortSource::None) {
            if (const auto name =
                    TtyName(info.devicePath, info.source == ComPortSource::Environment)) {
                reached.insert(*name);
            }
            ports.push_back(std::move(info));
        }
    }
    // Adapters left without a number (the table is unusable or full) are still shown.
    for (const Adapter& adapter : adapters) {
        if (reached.count(adapter.name) == 0) {
            ComPortInfo info;
            info.devicePath = adapter.key;
            info.exists = true;
            info.description = Description(adapter.key, false);
            if (adapter.key != adapter.plainPath) {
                info.node = adapter.plainPath;
            }
            ports.push_back(std::move(info));
        }
    }
    return ports;
}

}  // namespace k5
