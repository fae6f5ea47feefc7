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

enum class Command { Help, LinkTest, Configure, BurnIn, ResetRegisters };

struct Options {
    Command command = Command::Help;
    // Exactly one of the two names the line: a COM port number or a device path.
    unsigned port = 0;
    std::string device;
    bool burnInOn = false;
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
