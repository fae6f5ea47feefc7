// Runs the built k5ctl against simulated K5s mapped to COM ports, as a production-line script
// would run it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/simulator.h"
#include "tests/support/child_process.h"

namespace k5::cli::test {

using Environment = std::vector<std::pair<std::string, std::string>>;

// COM1 to COM15, or to the highest port given, for the child: the given simulators where
// there are any, missing paths elsewhere, so that the machine's own serial ports never take
// part.
class ComPorts {
public:
    sim::Simulator& Put(unsigned port, sim::SimConfig config);
    Environment Mapping() const;
    // k5ctl with pauses at 1/100 of their length (a later --time-scale overrides it).
    std::vector<std::string> Command(std::vector<std::string> args) const;
    k5::test::ChildOutcome Run(std::vector<std::string> args) const;

private:
    std::vector<std::pair<unsigned, std::unique_ptr<sim::Simulator>>> sims_;
};

// The text commands the simulator received, with their carriage returns, in order.
std::vector<std::string> TextCommands(const sim::Simulator& amp);
bool SawCommand(const sim::Simulator& amp, std::string_view command);
// The values written to the key register, in order.
std::vector<uint32_t> KeyWrites(const sim::Simulator& amp);

}  // namespace k5::cli::test
