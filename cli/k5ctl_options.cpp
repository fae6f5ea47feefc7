#include "cli/k5ctl_options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <utility>

#include "torvik/user_setting_rules.h"

namespace k5::cli {

namespace {

using torvik::UserSettingField;

struct SettingOption {
    std::string_view name;
    UserSettingField field;
};

// Listed in the order the settings dialog validates its fields, so the first refused value
// reported is the one the dialog would report.
constexpr std::array<SettingOption, 10> kSettingOptions = {{
    {"--pmax", UserSettingField::Pmax},
    {"--pc", UserSettingField::Pc},
    {"--ip", UserSettingField::Ip},
    {"--pref", UserSettingField::Pref},
    {"--ep", UserSettingField::Ep},
    {"--red", UserSettingField::Red},
    {"--rec", UserSettingField::Rec},
    {"--cp", UserSettingField::Cp},
    {"--conductance-min", UserSettingField::ConductanceMin},
    {"--conductance-max", UserSettingField::ConductanceMax},
}};

constexpr std::string_view kUsage =
    "Usage: k5ctl (--port N | --device PATH) COMMAND [options]\n"
    "       k5ctl [--port N] (detect [--warmed-up] | warm-up [--minutes M] | calibrate)\n"
    "\n"
    "Service functions of the K5 amplifier on a serial line (115200 baud, 8N1).\n"
    "\n"
    "The line:\n"
#ifdef _WIN32
    "  --port N          COM port N, the device \\\\.\\COM<N> (COM10 and above as well)\n"
#else
    "  --port N          COM port N; on this system the device named by the environment\n"
    "                    variable K5_COM<N>, otherwise /dev/ttyS<N-1>\n"
#endif
    "  --device PATH     open PATH directly\n"
    "\n"
    "Commands:\n"
    "  link-test         ask for the model; prints \"Link OK\" (exit 0) or \"Link error\"\n"
    "                    (exit 1)\n"
    "  configure [options]\n"
    "                    run the configuration procedure; standard output receives the log\n"
    "                    as the configuration tool shows it, followed by the failure text\n"
    "                    for result codes 1 to 5; the exit status is the result code:\n"
    "                      0 success\n"
    "                      1 no K5 answered\n"
    "                      2 link or command failure\n"
    "                      3 conductance outside the accepted range\n"
    "                      4 left and right conductance too far apart\n"
    "                      5 protection register not written or not verified\n"
    "                    Ctrl-C (or SIGTERM) stops the run as the Stop button does: prints\n"
    "                    \"\\nCancelled\\n\" and exits 130.\n"
    "  burn-in on|off    switch burn-in mode; prints nothing, exit 0\n"
    "  reset-registers   restore the amplifier's register defaults; prints\n"
    "                    \"Set AMP regsiters to default values: OK\" (exit 0) or\n"
    "                    \"Set AMP regsiters to default values: Error!\" (exit 1)\n"
    "\n"
    "The calibration wizard's procedures; they name COM ports only, and --port 0 or no port\n"
    "searches COM1 to COM15 as the wizard's \"Auto Detect\" does. Each prints the wizard's\n"
    "page texts with every \"\\n\\r\" written as a line feed:\n"
    "  detect [--warmed-up]\n"
    "                    look for a K5 (with --warmed-up it must also be powered on); prints\n"
    "                    \"Looking for K5...\" and the result; exit 0 when a K5 was found,\n"
    "                    otherwise 10 + the result code (10 port not opened, 11 no K5,\n"
    "                    12 not powered on, 14 none found on COM1 to COM15)\n"
    "  warm-up [--minutes M]\n"
    "                    detect, then keep the K5 on in its test state for M minutes\n"
    "                    [10], printing the countdown once a minute and the outcome;\n"
    "                    exit 0, 14 on a warm-up error, 130 after Ctrl-C (the K5 is muted)\n"
    "  calibrate         detect a powered K5, then run the five-step calibration; prints\n"
    "                    the step log and the final progress; exit 0 when it completes,\n"
    "                    otherwise its final code (1 failed, 2 cancelled, 5 wrong load,\n"
    "                    9 read-back mismatch, 11 power-off failed). Ctrl-C cancels it.\n"
    "\n"
    "Configure options (defaults in brackets; bounds as in the User Settings dialog):\n"
    "  --pmax W              maximum power, 0 to 1000 [500]\n"
    "  --pc W                continuous power, 0 to 1000 [250]\n"
    "  --ip A                current limit, 0 to 1000 [36]\n"
    "  --pref W              reference power, 0 to 10000 [900]\n"
    "  --cp X                clip setting, 0.28125 to 0.9 [0.8125]\n"
    "  --ep N                PTE setting EP, 0 to 15 [2]\n"
    "  --red N               PTE setting Red, 0 to 7 [5]\n"
    "  --rec N               PTE setting Rec, 0 to 7 [2]\n"
    "  --conductance-min N   lowest accepted conductance reading [550]\n"
    "  --conductance-max N   highest accepted conductance reading [900]\n"
    "  --report FILE         after a success, add the configuration report to FILE\n"
    "                        (created if missing; earlier reports are kept). \"Failed\" or\n"
    "                        \"Save data failed\" on standard error and exit 21 if it\n"
    "                        cannot be written.\n"
    "  A refused value prints the dialog's prompt on standard error and exits 2.\n"
    "\n"
    "Testing only:\n"
    "  --time-scale X    every pause on the line lasts X times its length (default 1)\n"
    "\n"
    "Exit status 20 (with \"Port error\" and the reason on standard error) when the port\n"
    "cannot be opened; 2 for bad usage. --help prints this text.\n";

ParseResult Refuse(std::string message) {
    ParseResult result;
    result.error = std::move(message);
    result.exitStatus = kExitUsage;
    return result;
}

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

}  // namespace

std::string_view UsageText() {
    return kUsage;
}

ParseResult ParseArguments(const std::vector<std::string_view>& args,
                           const UserSettings& defaults) {
    Options options;
    options.settings = defaults;
    std::optional<Command> command;
    bool haveLine = false;
    std::array<std::optional<std::string_view>, kSettingOptions.size()> settingTexts;
    bool haveBurnInState = false;
    bool haveReport = false;
    bool portZero = false;
    std::optional<int> minutes;

    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            ParseResult help;
            help.options = Options{};
            return help;
        }

        // Options take their value from the next argument or after '='.
        std::optional<std::string_view> inlineValue;
        if (arg.starts_with("--")) {
            if (const size_t equals = arg.find('='); equals != std::string_view::npos) {
                inlineValue = arg.substr(equals + 1);
                arg = arg.substr(0, equals);
            }
        }
        auto takeValue = [&]() -> std::optional<std::string_view> {
            if (inlineValue) {
                return inlineValue;
            }
            if (i + 1 < args.size()) {
                return args[++i];
            }
            return std::nullopt;
        };

        if (arg == "--port" || arg == "--device") {
            if (haveLine) {
                return Refuse("k5ctl: give one of --port and --device, once");
            }
            const std::optional<std::string_view> value = takeValue();
            if (!value) {
                return Refuse("k5ctl: " + std::string(arg) + " needs a value");
            }
            if (arg == "--port") {
                const std::optional<unsigned> port = ParsePortNumber(*value);
                if (!port) {
                    return Refuse("k5ctl: --port takes a COM port number from 1 to 255");
                }
                portZero = *port == 0;
                options.port = *port;
            } else {
                if (value->empty()) {
                    return Refuse("k5ctl: --device needs a path");
                }
                options.device = std::string(*value);
            }
            haveLine = true;
            continue;
        }
        if (arg == "--time-scale") {
            const std::optional<std::string_view> value = takeValue();
            const std::optional<double> scale = value ? ParseTimeScale(*value) : std::nullopt;
            if (!scale) {
                return Refuse("k5ctl: --time-scale takes a number of 0 or more");
            }
            options.timeScale = *scale;
            continue;
        }
        if (arg == "--warmed-up" && !inlineValue) {
            options.warmedUp = true;
            continue;
        }
        if (arg == "--minutes") {
            const std::optional<std::string_view> value = takeValue();
            int m = -1;
            if (value) {
                const auto [end, ec] =
                    std::from_chars(value->data(), value->data() + value->size(), m);
                if (ec != std::errc() || end != value->data() + value->size()) {
                    m = -1;
                }
            }
            if (m < 0 || m > 999) {
                return Refuse("k5ctl: --minutes takes a whole number of minutes from 0 to 999");
            }
            minutes = m;
            continue;
        }
        if (arg == "--report") {
            const std::optional<std::string_view> value = takeValue();
            if (!value || value->empty() || haveReport) {
                return Refuse("k5ctl: --report takes one file name");
            }
            options.reportPath = std::string(*value);
            haveReport = true;
            continue;
        }
        bool matchedSetting = false;
        for (size_t s = 0; s < kSettingOptions.size(); ++s) {
            if (arg != kSettingOptions[s].name) {
                continue;
            }
            const std::optional<std::string_view> value = takeValue();
            if (!value) {
                return Refuse("k5ctl: " + std::string(arg) + " needs a value");
            }
            settingTexts[s] = *value;  // a repeated option: the last one counts
            matchedSetting = true;
            break;
        }
        if (matchedSetting) {
            continue;
        }
        if (arg.starts_with("-")) {
            return Refuse("k5ctl: unknown option " + std::string(arg));
        }

        if (!command) {
            if (arg == "link-test") {
                command = Command::LinkTest;
            } else if (arg == "configure") {
                command = Command::Configure;
            } else if (arg == "burn-in") {
                command = Command::BurnIn;
            } else if (arg == "reset-registers") {
                command = Command::ResetRegisters;
            } else if (arg == "detect") {
                command = Command::Detect;
            } else if (arg == "warm-up") {
                command = Command::WarmUp;
            } else if (arg == "calibrate") {
                command = Command::Calibrate;
            } else {
                return Refuse("k5ctl: unknown command " + std::string(arg));
            }
            continue;
        }
        if (command == Command::BurnIn && !haveBurnInState && (arg == "on" || arg == "off")) {
            options.burnInOn = arg == "on";
            haveBurnInState = true;
            continue;
        }
        return Refuse("k5ctl: unexpected argument " + std::string(arg));
    }

    if (!command) {
        return Refuse("k5ctl: no command given");
    }
    if (IsWizardCommand(*command)) {
        if (!options.device.empty()) {
#ifdef _WIN32
            return Refuse("k5ctl: the wizard's commands name COM ports: use --port N");
#else
            return Refuse(
                "k5ctl: the wizard's commands name COM ports: use --port N (K5_COM<N> maps a "
                "device to port N)");
#endif
        }
    } else if (!haveLine) {
        return Refuse("k5ctl: give the line with --port N or --device PATH");
    } else if (portZero) {
        return Refuse("k5ctl: --port takes a COM port number from 1 to 255");
    }
    if (options.warmedUp && *command != Command::Detect) {
        return Refuse("k5ctl: --warmed-up belongs to detect");
    }
    if (minutes && *command != Command::WarmUp) {
        return Refuse("k5ctl: --minutes belongs to warm-up");
    }
    options.minutes = minutes.value_or(options.minutes);
    if (*command == Command::BurnIn && !haveBurnInState) {
        return Refuse("k5ctl: burn-in takes on or off");
    }
    const bool anySetting = std::any_of(settingTexts.begin(), settingTexts.end(),
                                        [](const auto& text) { return text.has_value(); });
    if (*command != Command::Configure && (anySetting || haveReport)) {
        return Refuse("k5ctl: settings and --report belong to configure");
    }
    for (size_t s = 0; s < kSettingOptions.size(); ++s) {
        if (!settingTexts[s]) {
            continue;
        }
        if (std::optional<std::string> prompt = torvik::ApplyUserSetting(
                options.settings, kSettingOptions[s].field, *settingTexts[s])) {
            return Refuse(std::move(*prompt));
        }
    }
    options.command = *command;
    ParseResult accepted;
    accepted.options = std::move(options);
    return accepted;
}

}  // namespace k5::cli
