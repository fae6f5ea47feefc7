#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "devlink/config_settings.h"

namespace k5::cli {

// k5ctl's exit statuses: one table for every command, so that a script tells every outcome
// apart. A configuration run exits with its own result code 0..5; link-test and
// reset-registers exit 1 on failure; calibrate exits with its final code 1, 5, 9 or 11.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitWarmUpError = 14;
inline constexpr int kExitPortError = 20;
inline constexpr int kExitRecordFailed = 21;  // --report or --json could not be written
// Detection outcomes: no K5 answered on the chosen port, a K5 not powered on, no K5 on
// COM1 to COM15 (30 + the detection result code).
inline constexpr int kExitNoK5 = 31;
inline constexpr int kExitNotPoweredOn = 32;
inline constexpr int kExitNoneFound = 34;
// A line of several units: at least one of them did not succeed (each one's own status is in
// the summary and its record).
inline constexpr int kExitSomeFailed = 40;
inline constexpr int kExitUsage = 64;  // bad usage or a refused setting
inline constexpr int kExitCancelled = 130;

enum class Command {
    Help,
    Version,
    LinkTest,
    Configure,
    BurnIn,
    ResetRegisters,
    Detect,
    WarmUp,
    Calibrate,
    Ports,
    Inspect,
};

// The wizard's commands work on COM ports, and port 0 (or none) asks for automatic detection.
inline bool IsWizardCommand(Command command) {
    return command == Command::Detect || command == Command::WarmUp ||
           command == Command::Calibrate;
}

// The commands that can leave a record with --json.
inline bool KeepsRecord(Command command) {
    return command == Command::Configure || command == Command::Inspect || IsWizardCommand(command);
}

// The commands that may run on several units at once. detect and inspect look at one unit
// (and detection may search), ports at none.
inline bool RunsOnSeveralUnits(Command command) {
    return command == Command::Configure || command == Command::LinkTest ||
           command == Command::BurnIn || command == Command::ResetRegisters ||
           command == Command::WarmUp || command == Command::Calibrate;
}

// One unit of a line: its COM port, or its device path (port 0), and its ID if given.
struct LineUnit {
    unsigned port = 0;
    std::string device;
    std::optional<std::string> id;
};

// Which unit a run was made on, by whom and where; each empty when not given.
struct RunIdentity {
    std::optional<std::string> unit;
    std::optional<std::string> operatorName;
    std::optional<std::string> station;
};

struct Options {
    Command command = Command::Help;
    // Exactly one of the two names the line: a COM port number or a device path. The wizard's
    // commands take port 0, or neither, for automatic detection over COM1 to COM15.
    unsigned port = 0;
    std::string device;
    // Several units, in the order given (--port 1-4,7, or --device repeated), each run as the
    // one unit above would be; empty for a single unit.
    std::vector<LineUnit> line;
    // Each unit's log also goes to its own file in this folder (see UnitLogName).
    std::string logDir;
    bool burnInOn = false;
    // detect: the amplifier is said to be warmed up, so it must also be powered on.
    bool warmedUp = false;
    // calibrate: warm the amplifier up first, as the wizard does for a cold one.
    bool warmUpFirst = false;
    // warm-up and calibrate --warm-up: the length of the countdown.
    int minutes = 10;
    // The configuration run's user settings: the defaults, changed by the options.
    UserSettings settings;
    // inspect: the conductance readings that its would-be register values assume; both or
    // neither.
    std::optional<uint32_t> left;
    std::optional<uint32_t> right;
    std::string reportPath;
    // After the run, one JSON line is added to this file.
    std::string jsonPath;
    // Kept in the record only: the report keeps the configuration tool's format.
    RunIdentity identity;
    // --units FILE: the IDs of the units by COM port, looked up before the run (see
    // ParseUnitsTable).
    std::string unitsPath;
    // Pauses of the link last this many times their nominal length; for tests only.
    double timeScale = 1.0;
};

// A set of commands: the commands an option belongs to.
class CommandSet {
public:
    constexpr CommandSet(std::initializer_list<Command> commands) {
        for (const Command command : commands) {
            bits_ |= Bit(command);
        }
    }
    static constexpr CommandSet Every() { return CommandSet(~uint32_t{0}); }
    constexpr CommandSet Without(Command command) const {
        return CommandSet(bits_ & ~Bit(command));
    }
    constexpr bool Contains(Command command) const { return (bits_ & Bit(command)) != 0; }

private:
    explicit constexpr CommandSet(uint32_t bits) : bits_(bits) {}
    static constexpr uint32_t Bit(Command command) {
        return uint32_t{1} << static_cast<unsigned>(command);
    }
    uint32_t bits_ = 0;
};

// Where --help lists a command or an option, in the order the sections appear there.
// InSynopsis: the option has no line of its own; it is shown in its commands' synopses.
enum class HelpSection {
    Line,
    ServiceCommands,
    WizardCommands,
    PortsCommand,
    ConfigureOptions,
    InspectOptions,
    Record,
    Units,
    Testing,
    InSynopsis,
};

struct CommandRow {
    std::string_view name;
    Command command;
    // One of these words, separated by '|', follows the command; empty: none does.
    std::string_view argument;
    // Needs --port (1 to 255) or --device. The wizard's commands search when neither names
    // the line; ports takes no line at all.
    bool needsLine;
    HelpSection section;
    std::string_view help;  // lines separated by '\n'
};

// The parser's state while it reads one command line; the option readers fill it in.
struct OptionReading;
struct OptionRow;
// Takes an option's value (empty when a flag, or when the command line ends before it) and
// returns why it is refused, if it is.
using OptionReader = std::optional<std::string> (*)(OptionReading& reading, const OptionRow& row,
                                                    std::optional<std::string_view> value);

struct OptionRow {
    std::string_view name;
    std::string_view argument;  // its value's placeholder in --help; empty: a flag
    CommandSet commands;        // the commands it belongs to
    // On a command that this other option belongs to as well, the option is only taken
    // together with it (calibrate --warm-up --minutes M).
    std::string_view with;
    HelpSection section;
    std::string_view help;  // lines separated by '\n'; empty when shown in a synopsis only
    OptionReader read;
};

// k5ctl's commands and options. They generate the --help text, the parser looks options up
// here, and the commands column decides which command may be given which option.
std::span<const CommandRow> CommandTable();
std::span<const OptionRow> OptionTable();

struct ParseResult {
    std::optional<Options> options;  // empty: refused
    std::string error;               // why, for standard error
    int exitStatus = kExitOk;        // kExitUsage when refused
};

// Reads k5ctl's arguments (without the program name). `defaults` are the user settings the
// configure options change.
ParseResult ParseArguments(const std::vector<std::string_view>& args, const UserSettings& defaults);

// What a --units FILE says, given its text: the ID of each COM port it names. Lines
// "COM3 SN-0003" or "3 SN-0003"; '#' begins a comment line; blank lines are skipped. Empty, with
// `error` set to why, when a line does not read so.
std::optional<std::map<unsigned, std::string>> ParseUnitsTable(std::string_view text,
                                                               std::string& error);

// The file name of a unit's log in --log-dir: "COM3.log", or for a device its path after
// "/dev/" with every '/' written as '-' ("ttyUSB0.log", "pts-5.log").
std::string UnitLogName(unsigned port, std::string_view device);

// The --help text.
std::string_view UsageText();

}  // namespace k5::cli
