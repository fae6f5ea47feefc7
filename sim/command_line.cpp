#include "sim/command_line.h"

#include <charconv>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "serialport/port_table.h"

namespace k5::sim {

namespace {

std::optional<uint64_t> ParseNumber(std::string_view text, uint64_t max) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > max) {
        return std::nullopt;
    }
    return value;
}

constexpr uint64_t kMaxMs = 600'000;

struct Option {
    std::string_view name;
    std::string_view argument;  // empty: a flag
    std::string_view help;
};

constexpr Option kOptions[] = {
    {"--help", "", "show this text and exit"},
    {"--version", "", "print the kit's version and exit"},
    {"--link", "PATH", "make PATH a symbolic link to the terminal (removed on exit)"},
    {"--units", "N", "serve N units, 1-64, each on its own terminal (default 1)"},
    {"--link-dir", "DIR", "make DIR/COM<n> a symbolic link to each unit's terminal"},
    {"--port-table", "DIR", "write DIR/k5kit/ports.conf mapping COM<n> to each unit"},
    {"--first-com", "N", "the first unit's COM number for the two above (default 1)"},
    {"--trace", "", "print every byte in both directions to stderr, with timestamps"},
    {"--model", "NAME", "model name answered to Main.Model? (default K5)"},
    {"--left", "N", "left conductance reading, 0-4095 (default 760)"},
    {"--right", "N", "right conductance reading, 0-4095 (default 760)"},
    {"--standby", "", "start in standby"},
    {"--switch-on-delay", "MS", "time from Main.Power=On to its echo in standby (default 20)"},
    {"--no-junk", "", "leave bits 12-31 of the conductance registers at zero"},
    {"--jitter", "N", "vary each reading by up to +-N (default 0)"},
    {"--seed", "N", "seed for junk bits, jitter and noise (unit n: N+n-1)"},
    {"--silent", "", "answer nothing at all"},
    {"--power-answer", "TEXT", "answer the power query with Main.Power=TEXT"},
    {"--ignore", "PATH", "do not hear commands on PATH, e.g. Dsp.Test (repeatable)"},
    {"--drop-replies", "N", "lose the next N text replies (the commands still act)"},
    {"--corrupt-checksum", "", "register replies carry a checksum off by one"},
    {"--wrong-address", "", "register replies name the next register"},
    {"--wrong-operation", "", "register replies carry the other operation"},
    {"--short-reply", "", "send only the first 7 bytes of register replies (=N: N bytes)"},
    {"--noise", "N", "send N junk bytes before each register reply"},
    {"--noise-only", "", "send junk bytes instead of register replies"},
    {"--fault-address", "ADDR", "apply the register reply faults to this register only"},
    {"--refuse-writes", "", "do not answer writes of STMAX, STPTE and STCLIP"},
    {"--readback-mismatch", "", "reads of STMAX, STPTE and STCLIP come back with bit 0 flipped"},
    {"--slow", "MS", "delay every reply by MS"},
    {"--hang-up-after", "N", "hang the line up as the Nth request arrives"},
};

const Option* FindOption(std::string_view name) {
    for (const Option& option : kOptions) {
        if (option.name == name) {
            return &option;
        }
    }
    return nullptr;
}

// Applies one option; returns an error text, or an empty string.
std::string Apply(std::string_view name, std::optional<std::string_view> value, SimConfig& c,
                  LineOptions& line) {
    using std::chrono::milliseconds;
    const auto number = [&](uint64_t max, const std::function<void(uint64_t)>& set) {
        const std::optional<uint64_t> n = ParseNumber(*value, max);
        if (!n) {
            return std::string(name) + ": '" + std::string(*value) +
                   "' is not a number from 0 to " + std::to_string(max);
        }
        set(*n);
        return std::string();
    };
    if (name == "--link") {
        c.linkPath = std::string(*value);
    } else if (name == "--units") {
        const std::string error =
            number(kMaxUnits, [&](uint64_t n) { line.units = static_cast<unsigned>(n); });
        if (error.empty() && line.units == 0) {
            return "--units: N must be at least 1";
        }
        return error;
    } else if (name == "--link-dir") {
        line.linkDir = std::string(*value);
    } else if (name == "--port-table") {
        line.portTableDir = std::string(*value);
    } else if (name == "--first-com") {
        const std::string error =
            number(kHighestComPort, [&](uint64_t n) { line.firstCom = static_cast<unsigned>(n); });
        if (error.empty() && line.firstCom == 0) {
            return "--first-com: N must be at least 1";
        }
        return error;
    } else if (name == "--trace") {
        c.trace = true;
    } else if (name == "--model") {
        c.model = std::string(*value);
    } else if (name == "--left") {
        return number(4095, [&](uint64_t n) { c.left = static_cast<uint32_t>(n); });
    } else if (name == "--right") {
        return number(4095, [&](uint64_t n) { c.right = static_cast<uint32_t>(n); });
    } else if (name == "--standby") {
        c.standby = true;
    } else if (name == "--switch-on-delay") {
        return number(kMaxMs, [&](uint64_t n) { c.switchOnDelay = milliseconds(n); });
    } else if (name == "--no-junk") {
        c.junk = false;
    } else if (name == "--jitter") {
        return number(4095, [&](uint64_t n) { c.jitter = static_cast<uint32_t>(n); });
    } else if (name == "--seed") {
        return number(UINT64_MAX, [&](uint64_t n) { c.seed = n; });
    } else if (name == "--silent") {
        c.silent = true;
    } else if (name == "--power-answer") {
        c.powerAnswer = std::string(*value);
    } else if (name == "--ignore") {
        c.ignorePaths.emplace_back(*value);
    } else if (name == "--drop-replies") {
        return number(1'000'000, [&](uint64_t n) { c.dropTextReplies = static_cast<int>(n); });
    } else if (name == "--corrupt-checksum") {
        c.corruptChecksum = true;
    } else if (name == "--wrong-address") {
        c.wrongAddress = true;
    } else if (name == "--wrong-operation") {
        c.wrongOperation = true;
    } else if (name == "--short-reply") {
        if (!value) {
            c.shortReply = 7;
            return {};
        }
        return number(10, [&](uint64_t n) { c.shortReply = static_cast<size_t>(n); });
    } else if (name == "--noise") {
        return number(4096, [&](uint64_t n) { c.noiseBytes = static_cast<size_t>(n); });
    } else if (name == "--noise-only") {
        c.noiseOnly = true;
    } else if (name == "--fault-address") {
        return number(0xFFFF, [&](uint64_t n) { c.faultAddress = static_cast<uint16_t>(n); });
    } else if (name == "--refuse-writes") {
        c.refuseWrites = true;
    } else if (name == "--readback-mismatch") {
        c.readbackMismatch = true;
    } else if (name == "--slow") {
        return number(kMaxMs, [&](uint64_t n) { c.slowReplies = milliseconds(n); });
    } else if (name == "--hang-up-after") {
        const std::string error =
            number(UINT32_MAX, [&](uint64_t n) { c.hangUpAfter = static_cast<size_t>(n); });
        if (error.empty() && c.hangUpAfter == 0) {
            return "--hang-up-after: N must be at least 1";
        }
        return error;
    }
    return {};
}

}  // namespace

CommandLine ParseCommandLine(std::span<const char* const> args) {
    CommandLine result;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i] != nullptr ? args[i] : "";
        if (arg == "--help" || arg == "-h") {
            result.action = CommandLine::Action::Help;
            return result;
        }
        if (arg == "--version") {
            result.action = CommandLine::Action::Version;
            return result;
        }
        const size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        const Option* option = FindOption(name);
        if (option == nullptr) {
            result.action = CommandLine::Action::Error;
            result.error = "unknown option '" + std::string(arg) + "'";
            return result;
        }
        std::optional<std::string_view> value;
        if (equals != std::string_view::npos) {
            if (option->argument.empty() && name != "--short-reply") {
                result.action = CommandLine::Action::Error;
                result.error = std::string(name) + " takes no value";
                return result;
            }
            value = arg.substr(equals + 1);
        } else if (!option->argument.empty()) {
            if (i + 1 >= args.size() || args[i + 1] == nullptr) {
                result.action = CommandLine::Action::Error;
                result.error = std::string(name) + " needs " + std::string(option->argument);
                return result;
            }
            value = args[++i];
        }
        std::string error = Apply(name, value, result.config, result.line);
        if (!error.empty()) {
            result.action = CommandLine::Action::Error;
            result.error = std::move(error);
            return result;
        }
    }
    const LineOptions& line = result.line;
    if (line.units > 1 && !result.config.linkPath.empty()) {
        result.action = CommandLine::Action::Error;
        result.error = "--link names one terminal; with --units use --link-dir";
    } else if (!line.linkDir.empty() && !result.config.linkPath.empty()) {
        result.action = CommandLine::Action::Error;
        result.error = "--link and --link-dir cannot be combined";
    } else if (line.firstCom + line.units - 1 > kHighestComPort) {
        result.action = CommandLine::Action::Error;
        result.error = "--first-com: COM" + std::to_string(line.firstCom + line.units - 1) +
                       " would be beyond COM" + std::to_string(kHighestComPort);
    }
    return result;
}

std::string Usage() {
    std::string text =
        "Usage: k5sim [OPTION...]\n"
        "Serves a simulated K5 amplifier on a pseudo-terminal and prints its path\n"
        "(with --units, one path per line in unit order).\n"
        "Runs until interrupted (SIGINT or SIGTERM).\n\n";
    for (const Option& option : kOptions) {
        std::string left = "  " + std::string(option.name);
        if (!option.argument.empty()) {
            left += " " + std::string(option.argument);
        }
        if (left.size() < 28) {
            left.resize(28, ' ');
        } else {
            left += "  ";
        }
        text += left + std::string(option.help) + "\n";
    }
    return text;
}

}  // namespace k5::sim
