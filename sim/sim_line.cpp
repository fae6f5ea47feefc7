#include "sim/sim_line.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/os_error.h"
#include "platform/unique_fd_posix.h"
#include "serialport/port_table.h"

namespace k5::sim {

SimConfig UnitConfig(const SimConfig& base, const LineOptions& line, unsigned index) {
    SimConfig config = base;
    config.seed = base.seed + index;
    const unsigned com = line.firstCom + index;
    if (!line.linkDir.empty()) {
        config.linkPath =
            (std::filesystem::path(line.linkDir) / ("COM" + std::to_string(com))).string();
    }
    if (line.units > 1) {
        config.tracePrefix = "[" + std::to_string(index + 1) + "] ";
    }
    return config;
}

std::unique_ptr<SimulatedLine> SimulatedLine::Start(const SimConfig& base, const LineOptions& line,
                                                    std::string& error) {
    std::unique_ptr<SimulatedLine> result(new SimulatedLine());
    for (unsigned index = 0; index < line.units; ++index) {
        auto unit = Simulator::Start(UnitConfig(base, line, index), error);
        if (!unit) {
            if (line.units > 1) {
                error = "unit " + std::to_string(index + 1) + ": " + error;
            }
            return nullptr;  // the units made so far go with `result`
        }
        result->units_.push_back(std::move(unit));
    }
    if (!line.portTableDir.empty() && !result->WriteTable(line, error)) {
        return nullptr;
    }
    return result;
}

SimulatedLine::~SimulatedLine() {
    Stop();
}

bool SimulatedLine::WriteTable(const LineOptions& line, std::string& error) {
    PortTable table;
    for (size_t index = 0; index < units_.size(); ++index) {
        table.entries[line.firstCom + static_cast<unsigned>(index)] = units_[index]->DevicePath();
    }
    const std::filesystem::path folder = std::filesystem::path(line.portTableDir) / "k5kit";
    std::error_code ec;
    if (std::filesystem::create_directory(folder, ec)) {
        tableFolder_ = folder;
    } else if (ec) {
        error = folder.string() + ": " + ec.message();
        return false;
    }
    const std::filesystem::path path = folder / kPortTableFileName;
    // Never over someone's table: only a file this program creates is written and removed.
    UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!file.Valid()) {
        const int openError = errno;
        error = path.string() + ": " + ErrnoText(openError);
        return false;
    }
    table_ = path;
    const std::string text = FormatPortTable(table);
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(file.Get(), text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int writeError = errno;
            error = path.string() + ": " + ErrnoText(writeError);
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

void SimulatedLine::Stop() {
    for (auto& unit : units_) {
        unit->Stop();
    }
    std::error_code ignored;
    if (!table_.empty()) {
        std::filesystem::remove(table_, ignored);
        table_.clear();
    }
    if (!tableFolder_.empty()) {
        std::filesystem::remove(tableFolder_, ignored);  // only when nothing else is in it
        tableFolder_.clear();
    }
}

}  // namespace k5::sim
