#pragma once

#include <span>
#include <string>

#include "sim/sim_config.h"

namespace k5::sim {

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    SimConfig config;
    LineOptions line;
    std::string error;  // Error: what was wrong, for the message before the usage hint
};

// Reads k5sim's options (the program name excluded). Options that take a value accept
// "--opt VALUE" and "--opt=VALUE"; numbers may be decimal or 0x-prefixed hex.
CommandLine ParseCommandLine(std::span<const char* const> args);

// The --help text: every option, one per line.
std::string Usage();

}  // namespace k5::sim
