// COM numbering on Linux against a fake sysfs and /dev tree: which nodes are ports, where a
// number comes from, and how the port table numbers adapters and survives bad input.
#include "serialport/com_port_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <thread>

#include "serialport/notices.h"
#include "serialport/tty_sysfs_posix.h"
#include "tests/support/pty_peer.h"
#include "tests/support/scoped_env.h"

namespace k5 {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The port layer's notices while it lives, one line each.
class CapturedNotices {
public:
    CapturedNotices() {
        SetNoticeSink([this](const std::string& notice) { text_ += notice + "\n"; });
    }
    ~CapturedNotices() { SetNoticeSink({}); }
    CapturedNotices(const CapturedNotices&) = delete;
    CapturedNotices& operator=(const CapturedNotices&) = delete;

    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

// A machine's /sys/class/tty, /dev and /dev/serial/by-id as udev and the kernel lay them out.
class FakeTree {
public:
    FakeTree() {
        std::string pattern = (fs::temp_directory_path() / "k5-ports-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data());
        fs::create_directories(root_ / "sys/class/tty");
        fs::create_directories(root_ / "dev/serial/by-id");
        WriteFile(root_ / "dev/null", "");
        // A virtual console: a tty entry with no device behind it.
        fs::create_directories(root_ / "sys/class/tty/tty1");
        WriteFile(root_ / "dev/tty1", "");
    }
    ~FakeTree() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    const fs::path& Root() const { return root_; }

    // A serial-core port; type 0 is a slot with no UART behind it.
    void Uart(int index, int type) {
        const std::string name = "ttyS" + std::to_string(index);
        const fs::path device = root_ / "sys/devices/pnp0/00:0" / std::to_string(index);
        fs::create_directories(device);
        Entry(name, device);
        WriteFile(root_ / "sys/class/tty" / name / "type", std::to_string(type) + "\n");
    }

    // A USB serial adapter: usb-serial puts the tty one level below the interface, ACM
    // directly on it; the product string is on the USB device above the interface.
    void UsbAdapter(const std::string& name, const std::string& usbPort, const std::string& product,
                    const std::string& byId) {
        const fs::path usb = root_ / "sys/devices/pci0000:00/usb1" / usbPort;
        WriteFile(usb / "product", product + "\n");
        fs::path device = usb / (usbPort + ":1.0");
        if (name.rfind("ttyUSB", 0) == 0) {
            device /= name;
        }
        fs::create_directories(device);
        Entry(name, device);
        if (!byId.empty()) {
            fs::create_symlink("../../" + name, root_ / "dev/serial/by-id" / byId);
        }
    }

    void Unplug(const std::string& name) {
        fs::remove_all(root_ / "sys/class/tty" / name);
        fs::remove(root_ / "dev" / name);
        for (const auto& link : fs::directory_iterator(root_ / "dev/serial/by-id")) {
            if (fs::read_symlink(link.path()).filename() == name) {
                fs::remove(link.path());
            }
        }
    }

private:
    void Entry(const std::string& name, const fs::path& device) {
        fs::create_directories(root_ / "sys/class/tty" / name);
        fs::create_directory_symlink(device, root_ / "sys/class/tty" / name / "device");
        WriteFile(root_ / "dev" / name, "");
    }

    fs::path root_;
};

constexpr const char* kFtdi = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
constexpr const char* kProlific = "usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0";

class PortsOnFakeTree : public testing::Test {
protected:
    void SetUp() override {
        for (unsigned n = 1; n <= 255; ++n) {
            const std::string name = "K5_COM" + std::to_string(n);
            if (std::getenv(name.c_str()) != nullptr) {
                cleared_.emplace_back(std::make_unique<ScopedEnv>(name, ""));
            }
        }
    }
    ComPortSystem System() const { return ComPortSystem(tree.Root(), ConfigDir()); }
    fs::path ConfigDir() const { return tree.Root() / "config/k5kit"; }

    FakeTree tree;
    std::vector<std::unique_ptr<ScopedEnv>> cleared_;
};

TEST_F(PortsOnFakeTree, OnlyNodesWithHardwareBehindThemArePorts) {
    tree.Uart(0, 4);
    tree.Uart(1, 0);
    tree.UsbAdapter("ttyUSB0", "1-1", "FT232R USB UART", kFtdi);
    tree.UsbAdapter("ttyACM0", "1-2", "K5 Bench Probe", "");
    test::PtyPeer pty;
    const struct {
        std::string path;
        bool fromEnvironment;
        bool exists;
        std::string description;
    } cases[] = {
        {"/dev/ttyS0", false, true, "16550A UART"},
        {"/dev/ttyS1", false, false, ""},  // an 8250 slot without a UART
        {"/dev/ttyUSB0", false, true, "FT232R USB UART"},
        {std::string("/dev/serial/by-id/") + kFtdi, false, true, "FT232R USB UART"},
        {"/dev/ttyACM0", false, true, "K5 Bench Probe"},
        {"/dev/tty1", false, false, ""},
        {"/dev/null", false, false, ""},
        {"/dev/ttyUSB9", false, false, ""},
        {pty.DevicePath(), true, true, "pseudo-terminal"},
        {"/dev/null", true, false, ""},
        {"/etc/hostname", true, false, ""},
        {"/nonexistent/k5-port", true, false, ""},
    };
    const ComPortSystem system = System();
    for (const auto& c : cases) {
        EXPECT_EQ(system.Exists(c.path, c.fromEnvironment), c.exists) << c.path;
        EXPECT_EQ(system.Description(c.path, c.fromEnvironment), c.description) << c.path;
    }
}

// A UART the kernel's console is on (console=ttyS1): the listing says so, and only of the
// ttys the console names exactly, never of one whose name it merely begins.
TEST_F(PortsOnFakeTree, TheSystemConsoleUartIsNamed) {
    for (const int index : {0, 1, 10}) {
        tree.Uart(index, 4);
    }
    WriteFile(tree.Root() / "sys/class/tty/console/active", "tty0 ttyS1\n");
    const ComPortSystem system = System();
    const TtySysfs ttys(tree.Root());
    const struct {
        std::string name;
        bool console;
        std::string description;
    } cases[] = {
        {"ttyS1", true, "16550A UART, system console"},
        {"ttyS0", false, "16550A UART"},
        {"ttyS10", false, "16550A UART"},
        {"tty0", true, ""},  // a virtual console: no port at all
        {"ttyS", false, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ttys.IsConsole(c.name), c.console) << c.name;
        EXPECT_EQ(system.Description("/dev/" + c.name, false), c.description) << c.name;
    }
    EXPECT_EQ(system.Describe(2).devicePath, "/dev/ttyS1");
    EXPECT_TRUE(system.Describe(2).exists);  // still COM2: only opening it is refused
}

TEST_F(PortsOnFakeTree, EnvironmentThenTableThenUartWithHardware) {
    tree.Uart(0, 4);
    tree.Uart(1, 0);
    tree.Uart(2, 4);
    WriteFile(ConfigDir() / "ports.conf", "COM3 = /dev/ttyACM5\n");
    // A terminal name devpts never makes: a numbered one may well be open on a busy machine.
    ScopedEnv env("K5_COM1", "/dev/pts/absent");
    const ComPortSystem system = System();
    const struct {
        unsigned number;
        ComPortSource source;
        std::string path;
    } cases[] = {
        {1, ComPortSource::Environment, "/dev/pts/absent"},
        {2, ComPortSource::None, ""},  // ttyS1 is a placeholder, never a phantom COM2
        {3, ComPortSource::Table, "/dev/ttyACM5"},
        {4, ComPortSource::None, ""},
        {0, ComPortSource::None, ""},
    };
    for (const auto& c : cases) {
        const ComPortInfo info = system.Describe(c.number);
        EXPECT_EQ(info.source, c.source) << "COM" << c.number;
        EXPECT_EQ(info.devicePath, c.path) << "COM" << c.number;
        EXPECT_FALSE(info.exists) << "COM" << c.number << " has nothing behind it";
    }
    // The UART behind ttyS2 is shadowed by the table's COM3, but ttyS0 shows through once
    // K5_COM1 is gone.
    ScopedEnv unset("K5_COM1", "");
    const ComPortInfo com1 = system.Describe(1);
    EXPECT_EQ(com1.source, ComPortSource::System);
    EXPECT_EQ(com1.devicePath, "/dev/ttyS0");
    EXPECT_TRUE(com1.exists);
}

TEST_F(PortsOnFakeTree, FirstSeenAdaptersGetTheLowestFreeNumbersAndKeepThem) {
    tree.Uart(0, 4);
    tree.Uart(1, 0);
    tree.UsbAdapter("ttyUSB0", "1-1", "FT232R USB UART", kFtdi);
    tree.UsbAdapter("ttyACM0", "1-2", "K5 Bench Probe", "");
    ScopedEnv env("K5_COM3", "/dev/pts/77");

    const std::vector<ComPortInfo> listed = System().List();
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[0].devicePath, "/dev/ttyS0");
    EXPECT_EQ(listed[1].number, 2u);  // ttyS1 has no UART, so COM2 is free
    EXPECT_EQ(listed[1].devicePath, "/dev/ttyACM0");
    EXPECT_EQ(listed[2].number, 3u);
    EXPECT_EQ(listed[2].source, ComPortSource::Environment);
    EXPECT_EQ(listed[3].number, 4u);
    EXPECT_EQ(listed[3].devicePath, std::string("/dev/serial/by-id/") + kFtdi);
    EXPECT_EQ(listed[3].node, "/dev/ttyUSB0");
    EXPECT_EQ(listed[3].description, "FT232R USB UART");
    EXPECT_EQ(ReadFile(ConfigDir() / "ports.conf").find("COM4 = /dev/serial/by-id/"),
              ReadFile(ConfigDir() / "ports.conf").find("COM4"));

    // Unplugged, a different adapter takes the next number; replugged on another node, the
    // first keeps COM4, as Windows keeps an adapter's number.
    tree.Unplug("ttyUSB0");
    tree.UsbAdapter("ttyUSB0", "1-3", "USB-Serial Controller", kProlific);
    System().List();
    tree.UsbAdapter("ttyUSB1", "1-1", "FT232R USB UART", kFtdi);
    const std::vector<ComPortInfo> again = System().List();
    ASSERT_EQ(again.size(), 5u);
    EXPECT_EQ(again[3].number, 4u);
    EXPECT_EQ(again[3].node, "/dev/ttyUSB1");
    EXPECT_TRUE(again[3].exists);
    EXPECT_EQ(again[4].number, 5u);
    EXPECT_EQ(again[4].devicePath, std::string("/dev/serial/by-id/") + kProlific);
    EXPECT_EQ(System().Describe(4).devicePath, std::string("/dev/serial/by-id/") + kFtdi);

    // Describing never numbers anything: the table is written only by listing.
    tree.UsbAdapter("ttyUSB2", "1-4", "CP2102", "");
    const std::string before = ReadFile(ConfigDir() / "ports.conf");
    EXPECT_EQ(System().Describe(6).source, ComPortSource::None);
    EXPECT_EQ(ReadFile(ConfigDir() / "ports.conf"), before);
}

TEST_F(PortsOnFakeTree, AnAdapterNamedByTheEnvironmentIsNotEntered) {
    tree.UsbAdapter("ttyUSB0", "1-1", "FT232R USB UART", kFtdi);
    ScopedEnv env("K5_COM7", (tree.Root() / "dev/ttyUSB0").string());
    const std::vector<ComPortInfo> listed = System().List();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].number, 7u);
    EXPECT_FALSE(fs::exists(ConfigDir() / "ports.conf"));
}

TEST_F(PortsOnFakeTree, TwoProgramsNumberingAtOnceNeverGiveOneNumberTwice) {
    // Each "program" sees its own adapter; without the lock one table write would drop the
    // other's entry, or both would take COM1.
    constexpr int kPrograms = 6;
    std::vector<std::unique_ptr<FakeTree>> trees;
    for (int i = 0; i < kPrograms; ++i) {
        trees.push_back(std::make_unique<FakeTree>());
        trees.back()->UsbAdapter("ttyUSB" + std::to_string(i), "1-" + std::to_string(i + 1),
                                 "Adapter", "usb-Adapter_" + std::to_string(i) + "-if00");
    }
    std::vector<std::thread> programs;
    for (int i = 0; i < kPrograms; ++i) {
        programs.emplace_back([&, i] { ComPortSystem(trees[i]->Root(), ConfigDir()).List(); });
    }
    for (std::thread& program : programs) {
        program.join();
    }
    const PortTable table = ParsePortTable(ReadFile(ConfigDir() / "ports.conf"));
    ASSERT_TRUE(table.usable) << table.problem;
    ASSERT_EQ(table.entries.size(), static_cast<size_t>(kPrograms));
    EXPECT_EQ(table.entries.rbegin()->first, static_cast<unsigned>(kPrograms));
    for (const auto& entry : fs::directory_iterator(ConfigDir())) {
        EXPECT_EQ(entry.path().filename(), "ports.conf") << "a temporary file was left behind";
    }
}

TEST_F(PortsOnFakeTree, ACorruptTableIsReportedOnceIgnoredAndNeverRewritten) {
    tree.Uart(0, 4);
    tree.UsbAdapter("ttyUSB0", "1-1", "FT232R USB UART", kFtdi);
    const std::string corrupt = "COM2 = /dev/ttyUSB0\nCOM2 /dev/ttyACM0\n\x01\x02";
    WriteFile(ConfigDir() / "ports.conf", corrupt);

    const CapturedNotices notices;
    testing::internal::CaptureStderr();
    const std::vector<ComPortInfo> listed = System().List();
    System().List();
    System().Describe(2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "the library printed by itself";
    const std::string& err = notices.Text();

    EXPECT_EQ(ReadFile(ConfigDir() / "ports.conf"), corrupt);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].devicePath, "/dev/ttyS0");
    EXPECT_EQ(listed[1].number, 0u) << "no number can be kept, so none is given";
    EXPECT_EQ(System().Describe(2).source, ComPortSource::None) << "COM2 of a corrupt table";
    const auto first = err.find("ports.conf");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(err.find("line 2"), std::string::npos) << err;
    EXPECT_EQ(err.find("ports.conf", first + 1), std::string::npos) << err;
}

// How often `text` occurs in `within`.
size_t Count(const std::string& within, const std::string& text) {
    size_t count = 0;
    for (auto at = within.find(text); at != std::string::npos; at = within.find(text, at + 1)) {
        ++count;
    }
    return count;
}

TEST_F(PortsOnFakeTree, TheTableIsReadOnlyFromASmallPlainFile) {
    tree.UsbAdapter("ttyUSB0", "1-1", "FT232R USB UART", kFtdi);
    const std::string entry = "COM3 = /dev/ttyACM5\n";
    const struct {
        const char* what;
        std::function<void(const fs::path&)> plant;
        const char* problem;  // empty: the table is used
    } cases[] = {
        {"a FIFO", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); },
         "it is a FIFO, not a regular file"},
        {"a link to /dev/zero", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
         "it is a symbolic link"},
        {"a 1 MiB file",
         [&](const fs::path& p) { WriteFile(p, std::string(1 << 20, '#') + "\n" + entry); },
         "it is larger than 65536 bytes"},
        {"marked as UTF-8", [&](const fs::path& p) { WriteFile(p, "\xEF\xBB\xBF" + entry); }, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path config = tree.Root() / ("config-" + std::to_string(&c - cases)) / "k5kit";
        const fs::path path = ComPortSystem::TablePathIn(config);
        fs::create_directories(config);
        c.plant(path);
        struct stat before {};
        ASSERT_EQ(::lstat(path.c_str(), &before), 0);

        const ComPortSystem system(tree.Root(), config);
        const CapturedNotices notices;
        const PortTable table = system.ReadTable();
        const ComPortInfo com3 = system.Describe(3);
        const std::vector<ComPortInfo> listed = system.List();
        const std::string& err = notices.Text();

        EXPECT_EQ(table.usable, *c.problem == '\0');
        EXPECT_EQ(com3.source, table.usable ? ComPortSource::Table : ComPortSource::None);
        ASSERT_EQ(listed.size(), table.usable ? 2u : 1u);
        if (!table.usable) {
            EXPECT_EQ(table.problem, std::string("cannot be read: ") + c.problem);
            EXPECT_EQ(Count(err, path.string()), 1u) << err;
            EXPECT_EQ(listed[0].number, 0u) << "a number that cannot be kept is not given";
            struct stat after {};
            ASSERT_EQ(::lstat(path.c_str(), &after), 0);
            EXPECT_EQ(after.st_mode, before.st_mode);
            EXPECT_EQ(after.st_size, before.st_size);
        }
    }
}

TEST_F(PortsOnFakeTree, AFilePlantedBesideTheTableIsNeverWrittenThrough) {
    tree.UsbAdapter("ttyUSB0", "1-1", "FT232R USB UART", kFtdi);
    const fs::path victim = tree.Root() / "victim";
    WriteFile(victim, "precious\n");
    fs::create_directories(ConfigDir());
    const std::string planted = "ports.conf.tmp." + std::to_string(::getpid());
    fs::create_symlink(victim, ConfigDir() / planted);

    const mode_t umask = ::umask(077);
    System().List();
    ::umask(umask);

    EXPECT_EQ(ReadFile(victim), "precious\n");
    EXPECT_TRUE(fs::is_symlink(ConfigDir() / planted));
    struct stat table {};
    ASSERT_EQ(::lstat((ConfigDir() / "ports.conf").c_str(), &table), 0);
    EXPECT_TRUE(S_ISREG(table.st_mode));
    EXPECT_EQ(table.st_mode & 07777, 0644u) << "others read the table whatever the umask";
    EXPECT_EQ(ParsePortTable(ReadFile(ConfigDir() / "ports.conf")).entries.size(), 1u);
}

// Root may run with an operator's $HOME (sudo -E, su -m).
TEST_F(PortsOnFakeTree, AsRootTheTableIsWrittenOnlyIntoAFolderRootOwns) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root: folders of another user";
    }
    tree.UsbAdapter("ttyUSB0", "1-1", "FT232R USB UART", kFtdi);
    constexpr uid_t kOther = 65534;
    const fs::path home = tree.Root() / "home";
    fs::create_directories(home / "k5kit");
    fs::create_directories(tree.Root() / "roots");
    fs::create_directory_symlink(tree.Root() / "roots", tree.Root() / "linked");
    const struct {
        fs::path config;
        fs::path owner;   // chowned to another user; empty: left to root
        fs::path absent;  // must not exist afterwards
    } cases[] = {
        {home / "k5kit", home / "k5kit", home / "k5kit/ports.conf"},
        {home / ".config/k5kit", home, home / ".config"},
        {tree.Root() / "linked", {}, tree.Root() / "roots/ports.conf"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config);
        if (!c.owner.empty()) {
            ASSERT_EQ(::chown(c.owner.c_str(), kOther, kOther), 0);
        }
        const CapturedNotices notices;
        const std::vector<ComPortInfo> listed = ComPortSystem(tree.Root(), c.config).List();
        ComPortSystem(tree.Root(), c.config).List();
        const std::string& err = notices.Text();

        EXPECT_FALSE(fs::exists(c.absent));
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(listed[0].number, 0u);
        EXPECT_EQ(Count(err, "as root"), 1u) << err;
    }
}

TEST(PortTable, LinesThatAreNotCleanEntriesMakeTheWholeTableUnusable) {
    const struct {
        const char* text;
        bool usable;
        size_t entries;
    } cases[] = {
        {"", true, 0},
        {"# comment\n\nCOM3 = /dev/serial/by-id/x\r\n  COM12=/dev/ttyACM0  \n", true, 2},
        {"COM0 = /dev/ttyUSB0\n", false, 0},
        {"COM256 = /dev/ttyUSB0\n", false, 0},
        {"COM+3 = /dev/ttyUSB0\n", false, 0},
        {"COM3 /dev/ttyUSB0\n", false, 0},
        {"COM3 = ttyUSB0\n", false, 0},
        {"COM3 =\n", false, 0},
        {"COMx = /dev/ttyUSB0\n", false, 0},
        {"COM3 = /dev/a\nCOM3 = /dev/b\n", false, 0},
        {"COM3 = /dev/a\nCOM4 = /dev/a\n", false, 0},
    };
    for (const auto& c : cases) {
        const PortTable table = ParsePortTable(c.text);
        EXPECT_EQ(table.usable, c.usable) << c.text;
        EXPECT_EQ(table.entries.size(), c.entries) << c.text;
        if (c.usable) {
            EXPECT_EQ(ParsePortTable(FormatPortTable(table)).entries, table.entries);
        }
    }
}

TEST(PortTable, LivesInTheUsersConfigurationFolder) {
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/srv/cfg");
        EXPECT_EQ(ComPortSystem::DefaultConfigDir(), fs::path("/srv/cfg/k5kit"));
    }
    ScopedEnv relative("XDG_CONFIG_HOME", "cfg");  // not absolute: ignored, as XDG says
    ScopedEnv home("HOME", "/home/tech");
    EXPECT_EQ(ComPortSystem::DefaultConfigDir(), fs::path("/home/tech/.config/k5kit"));
}

}  // namespace
}  // namespace k5
