#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_config.h"
#include "sim/simulator.h"

namespace k5::sim {

// The configuration of unit `index` (from 0) of a line: the base with the seed moved on by
// `index`, its link in the link folder and, on a line of more than one, its number before
// every trace line. Unit 0 of a line of one is the base unchanged.
SimConfig UnitConfig(const SimConfig& base, const LineOptions& line, unsigned index);

// Several simulated units served at once, each on a terminal of its own, optionally mapped
// to COM numbers through links and the kit's port table. Everything it made (terminals,
// links, the table) goes when it stops.
class SimulatedLine {
public:
    // nullptr with `error` set when a unit, a link or the table cannot be made; what was made
    // up to then is undone. An existing port table is never replaced.
    static std::unique_ptr<SimulatedLine> Start(const SimConfig& base, const LineOptions& line,
                                                std::string& error);

    ~SimulatedLine();
    SimulatedLine(const SimulatedLine&) = delete;
    SimulatedLine& operator=(const SimulatedLine&) = delete;

    size_t Size() const { return units_.size(); }
    Simulator& Unit(size_t index) { return *units_[index]; }

    // Stops every unit, removes the links and the table. Safe to call more than once.
    void Stop();

private:
    SimulatedLine() = default;
    bool WriteTable(const LineOptions& line, std::string& error);

    std::vector<std::unique_ptr<Simulator>> units_;
    std::filesystem::path table_;        // empty unless we wrote it
    std::filesystem::path tableFolder_;  // empty unless we made it
};

}  // namespace k5::sim
