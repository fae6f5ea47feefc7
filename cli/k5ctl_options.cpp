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
    "       k5ctl [--port N | --device PATH] WIZARD-COMMAND [options]\n"
    "       k5ctl ports\n"
    "       k5ctl --help | --version\n"
    "\n"
    "Service functions of the K5 amplifier on a serial line (115200 baud, 8N1).\n"
    "\n"
    "The line:\n"
#ifdef _WIN32
    "  --port N          COM port N, the device \\\\.\\COM<N> (COM10 and above as well)\n"
#else
    "  --port N          COM port N: on Linux the device named by the environment variable\n"
    "                    K5_COM<N>, else the one the kit's port table gives number N, else\n"
    "                    /dev/ttyS<N-1> when a UART is behind it (see k5ctl ports)\n"
#endif
    "  --device PATH     open PATH directly\n"
    "\n"
    "Commands:\n"
    "  link-test         ask for the model; prints \"Link OK\" or \"Link error\"\n"
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
    "                    Ctrl-C stops the run as the Stop button does and prints\n"
    "                    \"\\nCancelled\\n\".\n"
    "  burn-in on|off    switch burn-in mode; prints nothing. The amplifier echoes the mode\n"
    "                    frame: without its echo, a line on standard error and exit 1\n"
    "  reset-registers   restore the amplifier's register defaults; prints\n"
    "                    \"Set AMP regsiters to default values: OK\" or \"...: Error!\"\n"
    "\n"
    "The calibration wizard's commands. --port N or --device PATH names the line to probe;\n"
    "--port 0 or neither searches COM1 to COM15 as the wizard's \"Auto Detect\" does. Each\n"
    "prints the wizard's page texts with every \"\\n\\r\" written as a line feed (with\n"
    "--device the texts name PATH where they would name COM<N>):\n"
    "  detect [--warmed-up]\n"
    "                    look for a K5 (with --warmed-up it must also be powered on); prints\n"
    "                    \"Looking for K5...\" and the result\n"
    "  warm-up [--minutes M]\n"
    "                    detect, then keep the K5 on in its test state for M minutes [10],\n"
    "                    printing the countdown once a minute and the outcome; when the\n"
    "                    countdown ends, or the warm-up fails or is stopped, the K5 is turned\n"
    "                    down to -20 dB and muted; a finished warm-up says so\n"
    "  calibrate [--warm-up [--minutes M]]\n"
    "                    detect a powered K5, then run the five-step calibration; prints\n"
    "                    the step log and the final progress. With --warm-up: detect a K5\n"
    "                    (powered or not), warm it up for M minutes [10], then calibrate\n"
    "                    as the wizard does when its countdown ends.\n"
    "\n"
    "Ports:\n"
    "  ports             list every COM port in use: its device, where the number comes from\n"
    "                    (environment, port table, UART) and what the device says it is;\n"
    "                    adapters seen for the first time are given the lowest free numbers\n"
    "                    and keep them. Exit 0.\n"
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
    "                        (created if missing; earlier reports are kept)\n"
    "\n"
    "The production record (configure, detect, warm-up, calibrate):\n"
    "  --json FILE           after the run, append one JSON object on one line to FILE\n"
    "                        (created if missing) in a single write: command, device, port,\n"
    "                        started, finished, status (the exit status), result (the\n"
    "                        procedure's own code), version; configure adds settings, and\n"
    "                        configure and calibrate the readings left and right, coeff0,\n"
    "                        coeff1, coeff2, calc_pmax, calc_pc, calc_ip, stmax, stpte,\n"
    "                        stclip (null where the run did not get that far); configure\n"
    "                        also p2, p2i and p4. The record always starts a line of its\n"
    "                        own, even after a line that another station left torn\n"
    "\n"
    "The files of --report and --json are opened (created if missing) before anything is\n"
    "sent to the amplifier: one that cannot be opened ends the command at once with exit\n"
    "status 21. Each is added to under a lock on the whole file, in one write; a write that\n"
    "falls short (a full disk or quota) is cut back, leaving the file as it was.\n"
    "\n"
    "Testing only:\n"
    "  --time-scale X    every pause on the line lasts X times its length (default 1)\n"
    "\n"
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
    "  14        warm-up error\n"
    "  20        the port could not be opened (\"Port error: <reason>\" on standard error)\n"
    "  21        --report or --json could not be opened (the command ends before anything\n"
    "            is sent) or, after the run, written (path and reason on standard error;\n"
    "            it takes the place of the run's own status, which standard error names)\n"
    "  31        detection: no K5 answered on the chosen port\n"
    "  32        detection: the K5 is not powered on\n"
    "  34        detection: no K5 found on COM1 to COM15\n"
    "  64        bad usage or a refused setting (the setting's prompt on standard error)\n"
    "  130       stopped by Ctrl-C, SIGTERM or SIGHUP (calibrate still prints its page\n"
    "            text); a stop after the procedure has ended (calibrate: after its final\n"
    "            report) is too late and leaves the run's own status\n";

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
        if (arg == "--warm-up" && !inlineValue) {
            options.warmUpFirst = true;
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
        if (arg == "--json") {
            const std::optional<std::string_view> value = takeValue();
            if (!value || value->empty() || !options.jsonPath.empty()) {
                return Refuse("k5ctl: --json takes one file name");
            }
            options.jsonPath = std::string(*value);
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
            } else if (arg == "ports") {
                command = Command::Ports;
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
    if (*command == Command::Ports) {
        if (haveLine) {
            return Refuse("k5ctl: ports lists every COM port; it takes no --port or --device");
        }
    } else if (IsWizardCommand(*command)) {
        // Any line will do: a chosen port or device, or none for the search.
    } else if (!haveLine) {
        return Refuse("k5ctl: give the line with --port N or --device PATH");
    } else if (portZero) {
        return Refuse("k5ctl: --port takes a COM port number from 1 to 255");
    }
    if (options.warmedUp && *command != Command::Detect) {
        return Refuse("k5ctl: --warmed-up belongs to detect");
    }
    if (options.warmUpFirst && *command != Command::Calibrate) {
        return Refuse("k5ctl: --warm-up belongs to calibrate");
    }
    if (minutes && *command != Command::WarmUp && !options.warmUpFirst) {
        return Refuse("k5ctl: --minutes belongs to warm-up and calibrate --warm-up");
    }
    if (!options.jsonPath.empty() && !KeepsRecord(*command)) {
        return Refuse("k5ctl: --json belongs to configure, detect, warm-up and calibrate");
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
