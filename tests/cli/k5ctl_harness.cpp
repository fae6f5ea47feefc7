#include "tests/cli/k5ctl_harness.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "devlink/registers.h"

namespace k5::cli::test {

sim::Simulator& ComPorts::Put(unsigned port, sim::SimConfig config) {
    sims_.emplace_back(port, sim::Simulator::Start(std::move(config)));
    EXPECT_TRUE(sims_.back().second);
    return *sims_.back().second;
}

Environment ComPorts::Mapping() const {
    Environment env;
    unsigned last = 15;
    for (const auto& entry : sims_) {
        last = std::max(last, entry.first);
    }
    for (unsigned n = 1; n <= last; ++n) {
        std::string path = "/nonexistent/k5-com" + std::to_string(n);
        for (const auto& [port, sim] : sims_) {
            if (port == n && sim) {
                path = sim->DevicePath();
            }
        }
        env.emplace_back("K5_COM" + std::to_string(n), path);
    }
    return env;
}

std::vector<std::string> ComPorts::Command(std::vector<std::string> args) const {
    args.insert(args.begin(), {K5CTL_PATH, "--time-scale", "0.01"});
    return args;
}

k5::test::ChildOutcome ComPorts::Run(std::vector<std::string> args) const {
    return k5::test::RunProgram(Command(std::move(args)), Mapping());
}

std::vector<std::string> TextCommands(const sim::Simulator& amp) {
    std::vector<std::string> commands;
    for (const auto& request : amp.Requests()) {
        if (request.kind == sim::RequestKind::Text) {
            commands.emplace_back(request.raw.begin(), request.raw.end());
        }
    }
    return commands;
}

bool SawCommand(const sim::Simulator& amp, std::string_view command) {
    const std::vector<std::string> commands = TextCommands(amp);
    return std::find(commands.begin(), commands.end(), command) != commands.end();
}

std::vector<uint32_t> KeyWrites(const sim::Simulator& amp) {
    std::vector<uint32_t> values;
    for (const auto& request : amp.Requests()) {
        if (request.kind == sim::RequestKind::WriteRegister && request.address == kRegKey) {
            values.push_back(request.value);
        }
    }
    return values;
}

}  // namespace k5::cli::test
