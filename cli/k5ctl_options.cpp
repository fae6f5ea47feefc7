#include "cli/k5ctl_options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <iterator>
#include <utility>

#include "devlink/registers.h"
#include "torvik/user_setting_rules.h"

namespace k5::cli {

using torvik::UserSettingField;

struct OptionReading {
    Options& options;
    bool haveLine = false;
    bool havePort = false;
    // Every --port list entry, or every --device, in the order given.
    std::vector<unsigned> ports{};
    std::vector<std::string> devices{};
    std::vector<std::string> unitIds{};
    // The settings' texts, by field, checked once the command is known: the last one given
    // counts.
    std::array<std::optional<std::string_view>, torvik::kUserSettingOrder.size()> settingTexts{};
    // The options that gave them, for a refusal to name.
    std::array<std::string_view, torvik::kUserSettingOrder.size()> settingOptions{};
};

namespace {

// "k5ctl: --pmax: enter an integer between 0 and 1000": the option, then what it accepts in
// the words of the settings dialog's prompt.
std::string SettingRefusal(std::string_view option, UserSettingField field) {
    std::string prompt = torvik::AcceptedValuesPrompt(field);
    if (!prompt.empty() && prompt.front() >= 'A' && prompt.front() <= 'Z') {
        prompt.front() = static_cast<char>(prompt.front() - 'A' + 'a');
    }
    if (prompt.ends_with('.')) {
        prompt.pop_back();
    }
    return "k5ctl: " + std::string(option) + ": " + prompt;
}

// The pointer to the full list, for refusals that a wrong word or a typing slip caused.
constexpr std::string_view kSeeHelp = "; see k5ctl --help";

// 0 to 255; whether 0 is allowed depends on the command.
std::optional<unsigned> ParsePortNumber(std::string_view text) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > 255) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> ParseTimeScale(std::string_view text) {
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value) || value < 0.0) {
        return std::nullopt;
    }
    return value;
}

// A --port list, "1-4,7": numbers and ranges in the order the units run. Port 0 (automatic
// detection) is a list of its own.
std::optional<std::string> ParsePortList(std::string_view text, std::vector<unsigned>& ports) {
    constexpr std::string_view kRange = "k5ctl: --port takes a COM port number from 1 to 255";
    for (size_t start = 0;;) {
        const size_t comma = text.find(',', start);
        const std::string_view element = text.substr(start, comma - start);
        if (element.empty()) {
            return "k5ctl: --port " + std::string(text) +
                   ": an empty element; give numbers and ranges, such as --port 1-4,7";
        }
        const size_t dash = element.find('-');
        const std::optional<unsigned> first = ParsePortNumber(element.substr(0, dash));
        const std::optional<unsigned> last =
            dash == std::string_view::npos ? first : ParsePortNumber(element.substr(dash + 1));
        if (!first || !last) {
            return std::string(kRange);
        }
        if (*first > *last) {
            return "k5ctl: --port " + std::string(element) + ": a range runs upwards, such as 1-4";
        }
        for (unsigned port = *first; port <= *last; ++port) {
            if (std::find(ports.begin(), ports.end(), port) != ports.end()) {
                return "k5ctl: --port " + std::string(text) + ": COM" + std::to_string(port) +
                       " is listed twice";
            }
            ports.push_back(port);
        }
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    if (ports.size() > 1 && std::find(ports.begin(), ports.end(), 0u) != ports.end()) {
        return "k5ctl: --port 0 (automatic detection) cannot be part of a list of several";
    }
    return std::nullopt;
}

// --port once, with one port or a list; or --device, once per unit. Not both.
template <bool kPort>
std::optional<std::string> ReadLine(OptionReading& reading, const OptionRow&,
                                    std::optional<std::string_view> value) {
    if (reading.havePort || (kPort && reading.haveLine)) {
        return reading.havePort == kPort
                   ? "k5ctl: give --port once; it takes a list of several units, such as 1-4,7"
                   : "k5ctl: give the units with --port or with --device, not both";
    }
    if constexpr (kPort) {
        if (!value) {
            return "k5ctl: --port takes a COM port number from 1 to 255";
        }
        if (std::optional<std::string> refusal = ParsePortList(*value, reading.ports)) {
            return refusal;
        }
        reading.options.port = reading.ports.front();
        reading.havePort = true;
    } else {
        if (!value || value->empty()) {
            return "k5ctl: --device needs a path";
        }
        if (std::find(reading.devices.begin(), reading.devices.end(), *value) !=
            reading.devices.end()) {
            return "k5ctl: --device " + std::string(*value) + " is given twice";
        }
        reading.devices.emplace_back(*value);
        reading.options.device = reading.devices.front();
    }
    reading.haveLine = true;
    return std::nullopt;
}

template <bool Options::*kFlag>
std::optional<std::string> ReadFlag(OptionReading& reading, const OptionRow&,
                                    std::optional<std::string_view>) {
    reading.options.*kFlag = true;
    return std::nullopt;
}

std::optional<std::string> ReadMinutes(OptionReading& reading, const OptionRow&,
                                       std::optional<std::string_view> value) {
    int minutes = -1;
    if (value) {
        const auto [end, ec] =
            std::from_chars(value->data(), value->data() + value->size(), minutes);
        if (ec != std::errc() || end != value->data() + value->size()) {
            minutes = -1;
        }
    }
    if (minutes < 0 || minutes > 999) {
        return "k5ctl: --minutes takes a whole number of minutes from 0 to 999";
    }
    reading.options.minutes = minutes;
    return std::nullopt;
}

std::optional<std::string> ReadTimeScale(OptionReading& reading, const OptionRow&,
                                         std::optional<std::string_view> value) {
    const std::optional<double> scale = value ? ParseTimeScale(*value) : std::nullopt;
    if (!scale) {
        return "k5ctl: --time-scale takes a number of 0 or more";
    }
    reading.options.timeScale = *scale;
    return std::nullopt;
}

// --left and --right: a conductance reading, as the 12-bit register carries it.
template <std::optional<uint32_t> Options::*kReading>
std::optional<std::string> ReadConductance(OptionReading& reading, const OptionRow& row,
                                           std::optional<std::string_view> value) {
    uint32_t number = 0;
    const bool valid = value && [&] {
        const auto [end, ec] =
            std::from_chars(value->data(), value->data() + value->size(), number);
        return !value->empty() && ec == std::errc() && end == value->data() + value->size() &&
               number <= kConductanceMask;
    }();
    if (!valid) {
        return "k5ctl: " + std::string(row.name) + " takes a conductance reading from 0 to 4095";
    }
    reading.options.*kReading = number;
    return std::nullopt;
}

// --report and --json: one file name each.
template <std::string Options::*kPath>
std::optional<std::string> ReadFileName(OptionReading& reading, const OptionRow& row,
                                        std::optional<std::string_view> value) {
    std::string& path = reading.options.*kPath;
    if (!value || value->empty() || !path.empty()) {
        return "k5ctl: " + std::string(row.name) + " takes one file name";
    }
    path = std::string(*value);
    return std::nullopt;
}

// Whether `text` is 1 to 64 characters of UTF-8, none of them a control character (C0, DEL
// or C1): a name that a record's reader can show on one line.
bool IsPrintableName(std::string_view text) {
    constexpr size_t kMaxCharacters = 64;
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++characters) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = 1;
        char32_t code = lead;
        if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07u;
        } else if (lead >= 0xE0) {
            length = lead <= 0xEF ? 3 : 0;
            code = lead & 0x0Fu;
        } else if (lead >= 0xC2) {
            length = 2;
            code = lead & 0x1Fu;
        } else if (lead >= 0x80) {
            length = 0;  // a continuation byte, or an overlong lead
        }
        if (length == 0 || text.size() - i < length) {
            return false;
        }
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0u) != 0x80u) {
                return false;
            }
            code = (code << 6) | (next & 0x3Fu);
        }
        const char32_t lowest = length == 4 ? 0x10000 : length == 3 ? 0x800 : 0;
        if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code < 0x20 ||
            (code >= 0x7F && code <= 0x9F)) {
            return false;
        }
        i += length;
    }
    return characters >= 1 && characters <= kMaxCharacters;
}

// --unit: a printable name per unit, in port order; counted once the units are known.
std::optional<std::string> ReadUnitId(OptionReading& reading, const OptionRow& row,
                                      std::optional<std::string_view> value) {
    if (!value || !IsPrintableName(*value)) {
        return "k5ctl: " + std::string(row.name) + " takes 1 to 64 printable characters";
    }
    reading.unitIds.emplace_back(*value);
    return std::nullopt;
}

// --log-dir: one folder.
std::optional<std::string> ReadLogDir(OptionReading& reading, const OptionRow& row,
                                      std::optional<std::string_view> value) {
    if (!value || value->empty() || !reading.options.logDir.empty()) {
        return "k5ctl: " + std::string(row.name) + " takes one folder";
    }
    reading.options.logDir = std::string(*value);
    return std::nullopt;
}

// --operator and --station: once each, a printable name.
template <std::optional<std::string> RunIdentity::*kName>
std::optional<std::string> ReadIdentity(OptionReading& reading, const OptionRow& row,
                                        std::optional<std::string_view> value) {
    std::optional<std::string>& name = reading.options.identity.*kName;
    if (name) {
        return "k5ctl: " + std::string(row.name) + " is given once per command";
    }
    if (!value || !IsPrintableName(*value)) {
        return "k5ctl: " + std::string(row.name) + " takes 1 to 64 printable characters";
    }
    name = std::string(*value);
    return std::nullopt;
}

// A user setting is checked, as the settings dialog checks it, once the command is known.
template <UserSettingField kField>
std::optional<std::string> ReadSetting(OptionReading& reading, const OptionRow& row,
                                       std::optional<std::string_view> value) {
    if (!value) {
        return SettingRefusal(row.name, kField);
    }
    reading.settingTexts[static_cast<size_t>(kField)] = *value;
    reading.settingOptions[static_cast<size_t>(kField)] = row.name;
    return std::nullopt;
}

constexpr CommandSet kConfigure = {Command::Configure};
// inspect shows what a configuration with these settings would write.
constexpr CommandSet kSettings = {Command::Configure, Command::Inspect};
constexpr CommandSet kRecorded = {Command::Configure, Command::Inspect, Command::Detect,
                                  Command::WarmUp, Command::Calibrate};

#ifdef _WIN32
constexpr std::string_view kPortHelp =
    "COM port N, the device \\\\.\\COM<N> (COM10 and above as well); a list\n"
    "such as 1-4,7 names several units";
#else
constexpr std::string_view kPortHelp =
    "COM port N: on Linux the device named by the environment variable\n"
    "K5_COM<N>, else the one the kit's port table gives number N, else\n"
    "/dev/ttyS<N-1> when a UART is behind it (see k5ctl ports); a list\n"
    "such as 1-4,7 names several units";
#endif

// In the order --help lists them within their sections. The order also decides which of two
// misplaced options is reported: the line's first, then the wizard's and the record's;
// configure's come last (see ParseArguments).
constexpr OptionRow kOptions[] = {
    {"--port", "N", CommandSet::Every().Without(Command::Ports), "", HelpSection::Line, kPortHelp,
     ReadLine<true>},
    {"--device", "PATH", CommandSet::Every().Without(Command::Ports), "", HelpSection::Line,
     "open PATH directly; repeated, several units", ReadLine<false>},
    {"--warmed-up", "", CommandSet{Command::Detect}, "", HelpSection::InSynopsis, "",
     ReadFlag<&Options::warmedUp>},
    {"--warm-up", "", CommandSet{Command::Calibrate}, "", HelpSection::InSynopsis, "",
     ReadFlag<&Options::warmUpFirst>},
    {"--minutes", "M", CommandSet{Command::WarmUp, Command::Calibrate}, "--warm-up",
     HelpSection::InSynopsis, "", ReadMinutes},
    {"--json", "FILE", kRecorded, "", HelpSection::Record,
     "after the run, append one JSON object on one line to FILE\n"
     "(created if missing) in a single write: command, unit,\n"
     "operator, station, device, port, started, finished, status\n"
     "(the exit status), result (the procedure's own code, below;\n"
     "null when no procedure ran or a stop came first), outcome\n"
     "(success, failed, stopped or port-error), version; configure\n"
     "adds settings, and configure and calibrate the readings left\n"
     "and right, coeff0, coeff1, coeff2, calc_pmax, calc_pc, calc_ip,\n"
     "stmax, stpte, stclip (null where the run did not get that\n"
     "far); configure also p2, p2i and p4. inspect adds settings,\n"
     "left and right (as given), model, power, the registers read\n"
     "(registers), their fields (decoded) and the values it would\n"
     "write (would_write; null without --left and --right). The\n"
     "record always starts a line of its own, even after a line that\n"
     "another station left torn",
     ReadFileName<&Options::jsonPath>},
    {"--unit", "ID", kRecorded, "", HelpSection::Record,
     "the unit's serial number or ID, kept in the record; once per\n"
     "unit, in port order",
     ReadUnitId},
    {"--operator", "NAME", kRecorded, "", HelpSection::Record,
     "who runs the command, kept in the record", ReadIdentity<&RunIdentity::operatorName>},
    {"--station", "NAME", kRecorded, "", HelpSection::Record,
     "the station it runs at, kept in the record; ID and NAME are\n"
     "1 to 64 printable characters",
     ReadIdentity<&RunIdentity::station>},
    {"--pmax", "W", kSettings, "", HelpSection::ConfigureOptions, "maximum power, 0 to 1000 [500]",
     ReadSetting<UserSettingField::Pmax>},
    {"--pc", "W", kSettings, "", HelpSection::ConfigureOptions, "continuous power, 0 to 1000 [250]",
     ReadSetting<UserSettingField::Pc>},
    {"--ip", "A", kSettings, "", HelpSection::ConfigureOptions, "current limit, 0 to 1000 [36]",
     ReadSetting<UserSettingField::Ip>},
    {"--pref", "W", kSettings, "", HelpSection::ConfigureOptions,
     "reference power, 0 to 10000 [900]", ReadSetting<UserSettingField::Pref>},
    {"--cp", "X", kSettings, "", HelpSection::ConfigureOptions,
     "clip setting, 0.28125 to 0.9 [0.8125]", ReadSetting<UserSettingField::Cp>},
    {"--ep", "N", kSettings, "", HelpSection::ConfigureOptions, "PTE setting EP, 0 to 15 [2]",
     ReadSetting<UserSettingField::Ep>},
    {"--red", "N", kSettings, "", HelpSection::ConfigureOptions, "PTE setting Red, 0 to 7 [5]",
     ReadSetting<UserSettingField::Red>},
    {"--rec", "N", kSettings, "", HelpSection::ConfigureOptions, "PTE setting Rec, 0 to 7 [2]",
     ReadSetting<UserSettingField::Rec>},
    {"--conductance-min", "N", kConfigure, "", HelpSection::ConfigureOptions,
     "lowest accepted conductance reading [550]", ReadSetting<UserSettingField::ConductanceMin>},
    {"--conductance-max", "N", kConfigure, "", HelpSection::ConfigureOptions,
     "highest accepted conductance reading [900]", ReadSetting<UserSettingField::ConductanceMax>},
    {"--report", "FILE", kConfigure, "", HelpSection::ConfigureOptions,
     "after a success, add the configuration report to FILE\n"
     "(created if missing; earlier reports are kept)",
     ReadFileName<&Options::reportPath>},
    {"--left", "N", CommandSet{Command::Inspect}, "", HelpSection::InspectOptions,
     "the left conductance reading the would-be values assume", ReadConductance<&Options::left>},
    {"--right", "N", CommandSet{Command::Inspect}, "", HelpSection::InspectOptions,
     "the right one; both or neither, 0 to 4095", ReadConductance<&Options::right>},
    {"--units", "FILE", kRecorded, "", HelpSection::Units,
     "the units' IDs by COM port, one per line: \"COM3 SN-0003\" (or\n"
     "\"3 SN-0003\"); '#' starts a comment line. Every unit needs an\n"
     "ID in it; not with --unit",
     ReadFileName<&Options::unitsPath>},
    {"--log-dir", "DIR", CommandSet::Every().Without(Command::Ports), "", HelpSection::Units,
     "also write each unit's log, the bytes a run of that unit alone\n"
     "prints, to DIR/COM<N>.log (for --device, the path after /dev/ with\n"
     "'/' as '-': pts-5.log); DIR is made if missing, and a file already\n"
     "there is rewritten if it is this user's own regular file",
     ReadLogDir},
    {"--time-scale", "X", CommandSet::Every(), "", HelpSection::Testing,
     "every pause on the line lasts X times its length (default 1)", ReadTimeScale},
};

constexpr CommandRow kCommands[] = {
    {"link-test", Command::LinkTest, "", true, HelpSection::ServiceCommands,
     "ask for the model; prints \"Link OK\" or \"Link error\""},
    {"configure", Command::Configure, "", true, HelpSection::ServiceCommands,
     "run the configuration procedure; standard output receives the log\n"
     "as the configuration tool shows it, followed by the failure text\n"
     "for result codes 1 to 5; the exit status is the result code:\n"
     "  0 success\n"
     "  1 no K5 answered\n"
     "  2 link or command failure\n"
     "  3 conductance outside the accepted range\n"
     "  4 left and right conductance too far apart\n"
     "  5 protection register not written or not verified\n"
     "Ctrl-C stops the run as the Stop button does and prints\n"
     "\"\\nCancelled\\n\"."},
    {"burn-in", Command::BurnIn, "on|off", true, HelpSection::ServiceCommands,
     "switch burn-in mode; prints nothing. The amplifier echoes the mode\n"
     "frame: without its echo, a line on standard error and exit 1"},
    {"reset-registers", Command::ResetRegisters, "", true, HelpSection::ServiceCommands,
     "restore the amplifier's register defaults; prints\n"
     "\"Set AMP regsiters to default values: OK\" or \"...: Error!\""},
    {"inspect", Command::Inspect, "", true, HelpSection::ServiceCommands,
     "read the model, the power state and STMAX, STPTE and STCLIP, writing\n"
     "nothing, and print each register with its fields decoded. Takes\n"
     "configure's settings --pmax to --rec: with --left N --right N (the\n"
     "conductance readings to assume; the amplifier gives them only in\n"
     "its test state, which inspect does not set) it also prints what a\n"
     "configuration would write. Exit 0 when everything was read, 1 when\n"
     "the amplifier did not answer or a read failed"},
    {"detect", Command::Detect, "", false, HelpSection::WizardCommands,
     "look for a K5 (with --warmed-up it must also be powered on); prints\n"
     "\"Looking for K5...\" and the result"},
    {"warm-up", Command::WarmUp, "", false, HelpSection::WizardCommands,
     "detect, then keep the K5 on in its test state for M minutes [10],\n"
     "printing the countdown once a minute and the outcome; when the\n"
     "countdown ends, or the warm-up fails or is stopped, the K5 is turned\n"
     "down to -20 dB and muted; a finished warm-up says so"},
    {"calibrate", Command::Calibrate, "", false, HelpSection::WizardCommands,
     "detect a powered K5, then run the five-step calibration; prints\n"
     "the step log and the final progress. With --warm-up: detect a K5\n"
     "(powered or not), warm it up for M minutes [10], then calibrate\n"
     "as the wizard does when its countdown ends."},
    {"ports", Command::Ports, "", false, HelpSection::PortsCommand,
     "list every COM port in use: its device, where the number comes from\n"
     "(environment, port table, UART) and what the device says it is;\n"
     "adapters seen for the first time are given the lowest free numbers\n"
     "and keep them. Exit 0."},
};

struct Section {
    HelpSection id;
    std::string_view heading;
    size_t column;  // where the descriptions start
    std::string_view after;
    // What an option of this section is told on a command it does not belong to; empty:
    // "<option> belongs to <its commands>".
    std::string_view misplaced;
};

// --help's sections in their order; InSynopsis has none.
constexpr Section kSections[] = {
    {HelpSection::Line, "The line:\n", 20, "",
     "k5ctl: ports lists every COM port; it takes no --port or --device"},
    {HelpSection::ServiceCommands, "Commands:\n", 20, "", ""},
    {HelpSection::WizardCommands,
     "The calibration wizard's commands. --port N or --device PATH names the line to probe;\n"
     "--port 0 or neither searches COM1 to COM15 as the wizard's \"Auto Detect\" does. Each\n"
     "prints the wizard's page texts with every \"\\n\\r\" written as a line feed (with\n"
     "--device the texts name PATH where they would name COM<N>):\n",
     20, "", ""},
    {HelpSection::PortsCommand, "Ports:\n", 20, "", ""},
    {HelpSection::ConfigureOptions,
     "Configure options (defaults in brackets; bounds as in the User Settings dialog):\n", 24, "",
     "k5ctl: settings and --report belong to configure"},
    {HelpSection::InspectOptions, "Inspect options:\n", 24, "", ""},
    {HelpSection::Record,
     "The production record (configure, inspect, detect, warm-up, calibrate):\n", 24,
     "The files of --report and --json are opened (created if missing) before anything is\n"
     "sent to the amplifier: one that cannot be opened ends the command at once with exit\n"
     "status 21. Each is added to under a lock on the whole file, in one write; a write that\n"
     "falls short (a full disk or quota) is cut back, leaving the file as it was.\n"
     "\n"
     "A record's result is the code of the procedure that ended the run:\n"
     "  configure  0 success, 1 to 5 as its exit status\n"
     "  inspect    0 everything read, 1 no answer or a read failed\n"
     "  detection  1 no K5 on the chosen port, 2 not powered on, 3 found,\n"
     "             4 none found on COM1 to COM15\n"
     "  warm-up    14 error, 15 cancelled, 17 countdown ended\n"
     "  calibrate  1 failed, 2 cancelled, 5 wrong load, 9 read-back mismatch,\n"
     "             11 power-off failed, 12 complete\n"
     "warm-up and calibrate record the detection's code when detection ended the run, and\n"
     "calibrate --warm-up the warm-up's. outcome says what became of the run whatever the\n"
     "command: success, failed, stopped (Ctrl-C, SIGTERM, SIGHUP) or port-error (the port\n"
     "could not be opened; result is then null).\n"
     "\n",
     ""},
    {HelpSection::Units,
     "Several units at once (configure, link-test, burn-in, reset-registers, warm-up,\n"
     "calibrate), with --port 1-4,7 or --device repeated:\n",
     24,
     "Each unit runs its own session on its own line at the same time, exactly as a run of\n"
     "that unit alone; one unit's failure leaves the others alone, and Ctrl-C, SIGTERM or\n"
     "SIGHUP stops every one as the Stop button would. On a terminal each unit has a live\n"
     "line (port, device, current step, a warm-up's time left, the result); otherwise each\n"
     "line of each unit's output is written whole, prefixed with its port (\"COM3: \") or\n"
     "device, its standard error texts on standard error. A summary table (port, device,\n"
     "result, duration) ends the run. --json adds one record per unit and --report one\n"
     "report per configured unit, each in one write. Exit 0 when every unit succeeded, 40\n"
     "when one or more did not, 130 when stopped.\n"
     "\n",
     ""},
    {HelpSection::Testing, "Testing only:\n", 20, "", ""},
};

constexpr std::string_view kUsageHead =
    "Usage: k5ctl (--port N | --device PATH) COMMAND [options]\n"
    "       k5ctl [--port N | --device PATH] WIZARD-COMMAND [options]\n"
    "       k5ctl ports\n"
    "       k5ctl --help | --version\n"
    "\n"
    "Service functions of the K5 amplifier on a serial line (115200 baud, 8N1).\n"
    "\n";

constexpr std::string_view kUsageTail =
    "Standard output may close at any time (k5ctl ... | head -1): the procedure still runs\n"
    "to its own end and exits with its own status. SIGHUP stops a run as Ctrl-C does.\n"
    "\n"
    "Exit status, the same for every command:\n"
    "  0         success: configure result code 0, \"Link OK\", reset OK, K5 found,\n"
    "            warm-up countdown ended, calibration complete\n"
    "  1-5       configure result codes 1 to 5 (the texts above)\n"
    "  1         link-test \"Link error\"; reset-registers \"...: Error!\"; burn-in without\n"
    "            the amplifier's echo\n"
    "  1,5,9,11  calibrate final codes: failed, wrong load, read-back mismatch,\n"
    "            power-off failed\n"
    "  1         inspect: the amplifier did not answer or a read failed (a line on\n"
    "            standard error)\n"
    "  14        warm-up error\n"
    "  20        the port could not be opened (\"Port error: <reason>\" on standard error)\n"
    "  21        --report, --json or a --log-dir file could not be opened (the command\n"
    "            ends before anything is sent) or, after the run, written (path and\n"
    "            reason on standard error; it takes the place of the run's own status,\n"
    "            which standard error names)\n"
    "  31        detection: no K5 answered on the chosen port\n"
    "  32        detection: the K5 is not powered on\n"
    "  34        detection: no K5 found on COM1 to COM15\n"
    "  40        several units: one or more did not succeed (each unit's own status is in\n"
    "            the summary and its record)\n"
    "  64        bad usage or a refused setting (standard error names the option and\n"
    "            what it takes)\n"
    "  130       stopped by Ctrl-C, SIGTERM or SIGHUP (calibrate still prints its page\n"
    "            text); a stop after the procedure has ended (calibrate: after its final\n"
    "            report) is too late and leaves the run's own status\n";

constexpr size_t kOptionCount = std::size(kOptions);

size_t IndexOf(const OptionRow& row) {
    return static_cast<size_t>(&row - kOptions);
}

const OptionRow* FindOption(std::string_view name) {
    for (const OptionRow& row : kOptions) {
        if (row.name == name) {
            return &row;
        }
    }
    return nullptr;
}

const CommandRow* FindCommand(std::string_view name) {
    for (const CommandRow& row : kCommands) {
        if (row.name == name) {
            return &row;
        }
    }
    return nullptr;
}

const Section& SectionOf(HelpSection id) {
    for (const Section& section : kSections) {
        if (section.id == id) {
            return section;
        }
    }
    static constexpr Section kNone{HelpSection::InSynopsis, "", 0, "", ""};
    return kNone;
}

// Whether a command takes the option: one of its commands, and where `with` belongs too,
// only together with it.
bool Takes(const OptionRow& row, Command command, const std::array<bool, kOptionCount>& given) {
    if (!row.commands.Contains(command)) {
        return false;
    }
    if (row.with.empty()) {
        return true;
    }
    const OptionRow* with = FindOption(row.with);
    return with == nullptr || !with->commands.Contains(command) || given[IndexOf(*with)];
}

// "k5ctl: --json belongs to configure, detect, warm-up and calibrate".
std::string MisplacedText(const OptionRow& row) {
    if (const std::string_view text = SectionOf(row.section).misplaced; !text.empty()) {
        return std::string(text);
    }
    std::vector<std::string> names;
    for (const CommandRow& command : kCommands) {
        if (!row.commands.Contains(command.command)) {
            continue;
        }
        std::string name(command.name);
        if (const OptionRow* with = FindOption(row.with);
            with != nullptr && with->commands.Contains(command.command)) {
            name += " " + std::string(with->name);
        }
        names.push_back(std::move(name));
    }
    std::string text = "k5ctl: " + std::string(row.name) + " belongs to ";
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            text += i + 1 == names.size() ? " and " : ", ";
        }
        text += names[i];
    }
    return text;
}

// The command's argument words: "on|off".
bool IsArgumentWord(const CommandRow& command, std::string_view word) {
    std::string_view words = command.argument;
    while (!words.empty()) {
        const size_t bar = words.find('|');
        if (words.substr(0, bar) == word) {
            return true;
        }
        words = bar == std::string_view::npos ? std::string_view() : words.substr(bar + 1);
    }
    return false;
}

std::string ArgumentPrompt(const CommandRow& command) {
    std::string words(command.argument);
    const size_t bar = words.find('|');
    return "k5ctl: " + std::string(command.name) + " takes " + words.replace(bar, 1, " or ");
}

std::string OptionForm(const OptionRow& row) {
    std::string form(row.name);
    if (!row.argument.empty()) {
        form += " " + std::string(row.argument);
    }
    return form;
}

// "[--warm-up [--minutes M]]": an option, and inside its brackets those that come with it.
std::string SynopsisOptions(Command command, std::string_view with) {
    std::string text;
    for (const OptionRow& row : kOptions) {
        if (row.section != HelpSection::InSynopsis || !row.commands.Contains(command)) {
            continue;
        }
        const OptionRow* required = FindOption(row.with);
        const bool nested = required != nullptr && required->commands.Contains(command);
        if (nested ? row.with != with : !with.empty()) {
            continue;
        }
        text += " [" + OptionForm(row) + SynopsisOptions(command, row.name) + "]";
    }
    return text;
}

std::string CommandForm(const CommandRow& command) {
    std::string form(command.name);
    if (!command.argument.empty()) {
        form += " " + std::string(command.argument);
    }
    for (const OptionRow& row : kOptions) {
        // Options with lines of their own are summed up in the synopsis.
        if (row.section == HelpSection::ConfigureOptions &&
            row.commands.Contains(command.command)) {
            form += " [options]";
            break;
        }
    }
    return form + SynopsisOptions(command.command, "");
}

// "  --pmax W              maximum power ...": the description starts at the section's
// column, on a line of its own when the name leaves no room; later lines are indented to it.
void AppendEntry(std::string& text, std::string_view form, std::string_view help, size_t column) {
    std::string left = "  " + std::string(form);
    if (left.size() + 2 <= column) {
        left.resize(column, ' ');
    } else {
        left += "\n" + std::string(column, ' ');
    }
    text += left;
    for (size_t start = 0;;) {
        const size_t end = help.find('\n', start);
        text += help.substr(start, end - start);
        text += '\n';
        if (end == std::string_view::npos) {
            break;
        }
        text += std::string(column, ' ');
        start = end + 1;
    }
}

std::string BuildUsage() {
    std::string text(kUsageHead);
    for (const Section& section : kSections) {
        text += section.heading;
        for (const CommandRow& command : kCommands) {
            if (command.section == section.id) {
                AppendEntry(text, CommandForm(command), command.help, section.column);
            }
        }
        for (const OptionRow& row : kOptions) {
            if (row.section == section.id) {
                AppendEntry(text, OptionForm(row), row.help, section.column);
            }
        }
        text += "\n";
        text += section.after;
    }
    return text + std::string(kUsageTail);
}

ParseResult Refuse(std::string message) {
    ParseResult result;
    result.error = std::move(message);
    result.exitStatus = kExitUsage;
    return result;
}

}  // namespace

std::span<const CommandRow> CommandTable() {
    return kCommands;
}

std::span<const OptionRow> OptionTable() {
    return kOptions;
}

std::optional<std::map<unsigned, std::string>> ParseUnitsTable(std::string_view text,
                                                               std::string& error) {
    constexpr std::string_view kBlank = " \t\r";
    std::map<unsigned, std::string> ids;
    size_t number = 0;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        line.remove_prefix(std::min(line.find_first_not_of(kBlank), line.size()));
        line.remove_suffix(line.size() - (line.find_last_not_of(kBlank) + 1));
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::string where = "line " + std::to_string(number) + ": ";
        const size_t gap = std::min(line.find_first_of(kBlank), line.size());
        std::string_view port = line.substr(0, gap);
        std::string_view id = line.substr(gap);
        id.remove_prefix(std::min(id.find_first_not_of(kBlank), id.size()));
        if (port.size() > 3 && (port[0] == 'C' || port[0] == 'c') &&
            (port[1] == 'O' || port[1] == 'o') && (port[2] == 'M' || port[2] == 'm')) {
            port.remove_prefix(3);
        }
        const std::optional<unsigned> com = ParsePortNumber(port);
        if (!com || *com == 0 || id.empty()) {
            error = where + "give a COM port and an ID, such as COM3 SN-0003";
            return std::nullopt;
        }
        if (!IsPrintableName(id)) {
            error = where + "an ID is 1 to 64 printable characters";
            return std::nullopt;
        }
        if (!ids.emplace(*com, std::string(id)).second) {
            error = where + "COM" + std::to_string(*com) + " is given twice";
            return std::nullopt;
        }
    }
    return ids;
}

std::string UnitLogName(unsigned port, std::string_view device) {
    if (device.empty()) {
        // Automatic detection does not know the port before it has searched.
        return port == 0 ? "auto-detect.log" : "COM" + std::to_string(port) + ".log";
    }
    if (device.starts_with("/dev/")) {
        device.remove_prefix(5);
    }
    std::string name(device.substr(std::min(device.find_first_not_of("/\\.:"), device.size())));
    std::replace_if(
        name.begin(), name.end(), [](char c) { return c == '/' || c == '\\' || c == ':'; }, '-');
    return (name.empty() ? std::string("device") : name) + ".log";
}

std::string_view UsageText() {
    static const std::string usage = BuildUsage();
    return usage;
}

ParseResult ParseArguments(const std::vector<std::string_view>& args,
                           const UserSettings& defaults) {
    Options options;
    options.settings = defaults;
    OptionReading reading{options};
    std::array<bool, kOptionCount> given{};
    const CommandRow* command = nullptr;
    bool haveArgument = false;

    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            ParseResult help;
            help.options = Options{};
            return help;
        }
        if (arg == "--version") {
            ParseResult version;
            version.options = Options{};
            version.options->command = Command::Version;
            return version;
        }

        // Options take their value from the next argument or after '='.
        std::optional<std::string_view> inlineValue;
        if (arg.starts_with("--")) {
            if (const size_t equals = arg.find('='); equals != std::string_view::npos) {
                inlineValue = arg.substr(equals + 1);
                arg = arg.substr(0, equals);
            }
        }
        const OptionRow* row = FindOption(arg);
        if (row != nullptr && row->argument.empty() && inlineValue) {
            return Refuse("k5ctl: " + std::string(arg) + " takes no value");
        }
        if (row != nullptr) {
            std::optional<std::string_view> value;
            if (!row->argument.empty()) {
                if (inlineValue) {
                    value = inlineValue;
                } else if (i + 1 < args.size()) {
                    value = args[++i];
                }
            }
            if (std::optional<std::string> refusal = row->read(reading, *row, value)) {
                return Refuse(std::move(*refusal));
            }
            given[IndexOf(*row)] = true;
            continue;
        }
        if (arg.starts_with("-")) {
            return Refuse("k5ctl: unknown option " + std::string(arg) + std::string(kSeeHelp));
        }

        if (command == nullptr) {
            command = FindCommand(arg);
            if (command == nullptr) {
                return Refuse("k5ctl: unknown command " + std::string(arg) + std::string(kSeeHelp));
            }
            continue;
        }
        if (!haveArgument && IsArgumentWord(*command, arg)) {
            // burn-in's on|off is the only argument a command takes.
            options.burnInOn = arg == "on";
            haveArgument = true;
            continue;
        }
        return Refuse("k5ctl: unexpected argument " + std::string(arg) + std::string(kSeeHelp));
    }

    if (command == nullptr) {
        return Refuse("k5ctl: no command given; k5ctl --help lists the commands");
    }
    if (command->needsLine) {
        if (!reading.haveLine) {
            return Refuse("k5ctl: give the line with --port N or --device PATH");
        }
        if (options.device.empty() && options.port == 0) {
            return Refuse("k5ctl: --port takes a COM port number from 1 to 255");
        }
    }
    // An option given to a command it does not belong to, the first in the table's order.
    // Configure's options are looked at after the command's own argument, just before their
    // values are checked.
    const auto misplaced = [&](bool configureOptions) -> const OptionRow* {
        for (const OptionRow& row : kOptions) {
            if ((row.section == HelpSection::ConfigureOptions) == configureOptions &&
                given[IndexOf(row)] && !Takes(row, command->command, given)) {
                return &row;
            }
        }
        return nullptr;
    };
    if (const OptionRow* row = misplaced(false)) {
        return Refuse(MisplacedText(*row));
    }
    if (!command->argument.empty() && !haveArgument) {
        return Refuse(ArgumentPrompt(*command));
    }
    if (const OptionRow* row = misplaced(true)) {
        return Refuse(MisplacedText(*row));
    }
    // In the order the settings dialog checks its fields, so that the first refused value
    // reported is the one the dialog would report.
    for (const UserSettingField field : torvik::kUserSettingOrder) {
        if (const std::optional<std::string_view> text =
                reading.settingTexts[static_cast<size_t>(field)]) {
            if (torvik::ApplyUserSetting(options.settings, field, *text)) {
                return Refuse(
                    SettingRefusal(reading.settingOptions[static_cast<size_t>(field)], field));
            }
        }
    }
    if (options.left.has_value() != options.right.has_value()) {
        return Refuse("k5ctl: give --left and --right together");
    }
    const size_t units = std::max({size_t{1}, reading.ports.size(), reading.devices.size()});
    if (units > 1 && !RunsOnSeveralUnits(command->command)) {
        return Refuse("k5ctl: " + std::string(command->name) +
                      " works on one unit; give one --port or --device");
    }
    if (!reading.unitIds.empty() && !options.unitsPath.empty()) {
        return Refuse("k5ctl: give --unit or --units, not both");
    }
    if (units == 1 && reading.unitIds.size() > 1) {
        return Refuse("k5ctl: --unit is given once per command");
    }
    if (units > 1 && !reading.unitIds.empty() && reading.unitIds.size() != units) {
        return Refuse("k5ctl: --unit is given " + std::to_string(reading.unitIds.size()) +
                      " times for " + std::to_string(units) +
                      " units; give one per unit, in port order");
    }
    if (units == 1 && !reading.unitIds.empty()) {
        options.identity.unit = reading.unitIds.front();
    }
    for (size_t i = 0; units > 1 && i < units; ++i) {
        LineUnit unit;
        if (reading.devices.empty()) {
            unit.port = reading.ports[i];
        } else {
            unit.device = reading.devices[i];
        }
        if (!reading.unitIds.empty()) {
            unit.id = reading.unitIds[i];
        }
        options.line.push_back(std::move(unit));
    }
    options.command = command->command;
    ParseResult accepted;
    accepted.options = std::move(options);
    return accepted;
}

}  // namespace k5::cli
