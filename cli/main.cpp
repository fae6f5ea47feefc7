#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "cli/command_line.h"
#include "cli/k5ctl_commands.h"
#include "cli/k5ctl_options.h"
#include "serialport/notices.h"
#include "serialport/timer_resolution.h"

int main(int argc, char** argv) {
    k5::SendNoticesToStandardError();
#ifdef SIGPIPE
    // A reader that goes away (k5ctl ... | head -1) must not end a run half-way through
    // writing the amplifier: failed writes to standard output are dropped instead.
    std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
    // A file-size limit makes the record's write fall short, which cuts it back, instead of
    // ending the program half-way through the line.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
#ifdef _WIN32
    // The log goes out byte for byte as on every other system: line feeds, no carriage returns.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    const k5::TimerResolution timer;  // 1 ms pauses on Windows, until the program ends
    const std::vector<std::string> arguments = k5::cli::CommandLineArguments(argc, argv);
    const std::vector<std::string_view> args(arguments.begin(), arguments.end());
    const k5::ConfigSettings defaults;
    const k5::cli::ParseResult parsed = k5::cli::ParseArguments(args, defaults.TakeUserSettings());
    if (!parsed.options) {
        std::fprintf(stderr, "%s\n", parsed.error.c_str());
        return parsed.exitStatus;
    }
    return k5::cli::RunCommand(*parsed.options, stdout, stderr);
}
