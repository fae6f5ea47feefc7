#include <csignal>
#include <cstdio>
#include <string_view>
#include <vector>

#include "cli/k5ctl_commands.h"
#include "cli/k5ctl_options.h"

int main(int argc, char** argv) {
#ifdef SIGPIPE
    // A reader that goes away (k5ctl ... | head -1) must not end a run half-way through
    // writing the amplifier: failed writes to standard output are dropped instead.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    std::vector<std::string_view> args(argv + 1, argv + argc);
    const k5::ConfigSettings defaults;
    const k5::cli::ParseResult parsed = k5::cli::ParseArguments(args, defaults.TakeUserSettings());
    if (!parsed.options) {
        std::fprintf(stderr, "%s\n", parsed.error.c_str());
        return parsed.exitStatus;
    }
    return k5::cli::RunCommand(*parsed.options, stdout, stderr);
}
