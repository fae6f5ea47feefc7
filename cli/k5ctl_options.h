#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devlink/config_settings.h"

namespace k5::cli {

// Exit statuses beside a configuration run's own result codes 0..5.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitPortError = 20;
inline constexpr int kExitReportFailed = 21;
inline constexpr int kExitCancelled = 130;

enum class Command {
    Help,
    LinkTest,
    Configure,
    BurnIn,
    ResetRegisters,
    Detect,
    WarmUp,
    Calibrate,
    Ports,
};

// Exit status of detect (and of warm-up and calibrate when their detection fails): this plus
// the detection result code; a K5 found exits 0.
inline constexpr int kExitDetectBase = 10;
inline constexpr int kExitWarmUpError = 14;

// The wizard's commands work on COM ports, and port 0 asks for automatic detection.
inline bool IsWizardCommand(Command command) {
    return command == Command::Detect || command == Command::WarmUp ||
           command == Command::Calibrate;
}

struct Options {
    Command command = Command::Help;
    // Exactly one of the two names the line: a COM port number or a device path. The wizard's
    // commands take port 0, or none, for automatic detection over COM1 to COM15.
    unsigned port = 0;
    std::string device;
    bool burnInOn = false;
    // detect: the amplifier is said to be warmed up, so it must also be powered on.
    bool warmedUp = false;
    // warm-up: the length of the countdown.
    int minutes = 10;
    // The configuration run's user settings: the defaults, changed by the options.
    UserSettings settings;
    std::string reportPath;
    // Pauses of the link last this many times their nominal length; for tests only.
    double timeScale = 1.0;
};

struct ParseResult {
    std::optional<Options> options;  // empty: refused
    std::string error;               // why, for standard error
    int exitStatus = kExitOk;        // kExitUsage when refused
};

// Reads k5ctl's arguments (without the program name). `defaults` are the user settings the
// configure options change.
ParseResult ParseArguments(const std::vector<std::string_view>& args, const UserSettings& defaults);

// The --help text.
std::string_view UsageText();

}  // namespace k5::cli
