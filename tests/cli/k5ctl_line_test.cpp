// A line of units driven by one k5ctl: each unit's share of the output must be exactly what a
// run of that unit alone prints, whatever the others do.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "devlink/registers.h"
#include "sim/simulator.h"
#include "tests/cli/k5ctl_harness.h"
#include "tests/support/case_name.h"
#include "tests/support/child_process.h"

namespace k5::cli {
namespace {

using k5::test::CaseName;
using k5::test::ChildOutcome;
using k5::test::ChildProcess;
using test::ComPorts;
using test::KeyWrites;

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A folder of the test's own, gone with it.
class Scratch {
public:
    explicit Scratch(const std::string& name)
        : path_(std::filesystem::temp_directory_path() /
                ("k5ctl_line_" + name + "_" + std::to_string(getpid()))) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~Scratch() { std::filesystem::remove_all(path_); }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// The prefixed output split by unit ("COM3" -> its text with the prefixes taken off), and
// whatever follows the units' lines (the summary). A line that starts with no unit's prefix
// ends the units' part.
struct SplitOutput {
    std::map<std::string, std::string> units;
    std::string rest;
};

SplitOutput Split(const std::string& text, unsigned units) {
    SplitOutput split;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        const size_t colon = line.find(": ");
        const std::string label = line.substr(0, colon);
        bool known = false;
        for (unsigned n = 1; n <= units; ++n) {
            known = known || label == "COM" + std::to_string(n);
        }
        if (colon == std::string::npos || !known) {
            break;
        }
        split.units[label] += line.substr(colon + 2) + "\n";
        start = end + 1;
    }
    split.rest = text.substr(start);
    return split;
}

// What a unit's prefixed lines come to: its text, its unfinished last line ended.
std::string AsLines(std::string text) {
    if (!text.empty() && !text.ends_with('\n')) {
        text += '\n';
    }
    return text;
}

std::vector<nlohmann::json> Records(const std::filesystem::path& file) {
    std::vector<nlohmann::json> records;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        records.push_back(nlohmann::json::parse(line, nullptr, false));
    }
    return records;
}

const sim::SimConfig kK5{};

struct LineRow {
    std::string what;
    std::vector<std::string> command;  // after "--port 1-N"
    // The units on COM1, COM2, ...; none: a port with no device behind it.
    std::vector<std::optional<sim::SimConfig>> units;
    std::vector<int> statuses;  // each unit's own exit status, as it would be alone
    int exitStatus;
    bool recorded = true;    // --json and IDs
    bool unitsFile = false;  // the IDs from --units FILE rather than --unit
};

class Line : public testing::TestWithParam<LineRow> {};

TEST_P(Line, EachUnitRunsAsItWouldAlone) {
    const LineRow& row = GetParam();
    const unsigned count = static_cast<unsigned>(row.units.size());
    Scratch scratch(CaseName(row.what));
    ComPorts ports;
    for (unsigned n = 1; n <= count; ++n) {
        if (row.units[n - 1]) {
            ports.Put(n, *row.units[n - 1]);
        }
    }
    std::vector<std::string> args = {"--port", "1-" + std::to_string(count)};
    args.insert(args.end(), row.command.begin(), row.command.end());
    args.insert(args.end(), {"--log-dir", (scratch / "logs").string()});
    if (row.recorded) {
        args.insert(args.end(), {"--json", (scratch / "records.jsonl").string()});
        if (row.unitsFile) {
            std::ofstream table(scratch / "units.txt");
            table << "# the line's units\n\n";
            for (unsigned n = count; n >= 1; --n) {
                table << (n % 2 == 0 ? "COM" : "") << n << "  SN-" << n << "\r\n";
            }
            args.insert(args.end(), {"--units", (scratch / "units.txt").string()});
        }
        for (unsigned n = 1; n <= count && !row.unitsFile; ++n) {
            args.insert(args.end(), {"--unit", "SN-" + std::to_string(n)});
        }
    }
    const ChildOutcome line = ports.Run(args);
    EXPECT_EQ(line.exitStatus, row.exitStatus) << line.out << line.err;
    const SplitOutput out = Split(line.out, count);
    const SplitOutput err = Split(line.err, count);
    EXPECT_EQ(err.rest, "");

    const std::vector<nlohmann::json> records = Records(scratch / "records.jsonl");
    EXPECT_EQ(records.size(), row.recorded ? count : 0u);
    for (unsigned n = 1; n <= count; ++n) {
        const std::string com = "COM" + std::to_string(n);
        SCOPED_TRACE(com);
        // The same unit alone, on a line of its own.
        ComPorts alone;
        if (row.units[n - 1]) {
            alone.Put(n, *row.units[n - 1]);
        }
        std::vector<std::string> single = {"--port", std::to_string(n)};
        single.insert(single.end(), row.command.begin(), row.command.end());
        const ChildOutcome expected = alone.Run(single);
        EXPECT_EQ(expected.exitStatus, row.statuses[n - 1]);

        EXPECT_EQ(ReadFile(scratch / "logs" / (com + ".log")), expected.out);
        EXPECT_EQ(out.units.contains(com) ? out.units.at(com) : "", AsLines(expected.out));
        EXPECT_EQ(err.units.contains(com) ? err.units.at(com) : "", AsLines(expected.err));
        EXPECT_NE(out.rest.find("\n" + com + " "), std::string::npos) << out.rest;
        size_t own = 0;
        for (const nlohmann::json& record : records) {
            if (record.is_object() && record["port"] == n) {
                ++own;
                EXPECT_EQ(record["unit"], "SN-" + std::to_string(n));
                EXPECT_EQ(record["status"], row.statuses[n - 1]);
            }
        }
        EXPECT_EQ(own, row.recorded ? 1u : 0u);
    }
    EXPECT_TRUE(out.rest.starts_with("\nPORT ")) << out.rest;
}

const LineRow kLines[] = {
    {"configure, one silent", {"configure"}, {kK5, sim::SimConfig{.silent = true}}, {0, 1}, 40},
    {"configure, one of another model",
     {"configure"},
     {kK5, sim::SimConfig{.model = "K4"}, sim::SimConfig{.left = 700, .right = 720}},
     {0, 1, 0},
     40},
    {"calibrate, one line pulled mid-run and one silent",
     {"calibrate"},
     {sim::SimConfig{.hangUpAfter = 12}, kK5, sim::SimConfig{.silent = true}},
     {1, 0, 31},
     40,
     true,
     true},
    {"warm-up, one port without a device",
     {"warm-up", "--minutes", "0"},
     {kK5, std::nullopt},
     {0, 20},
     40},
    {"link-test, every unit answers", {"link-test"}, {kK5, kK5, kK5}, {0, 0, 0}, 0, false},
};
INSTANTIATE_TEST_SUITE_P(K5ctlLine, Line, testing::ValuesIn(kLines),
                         [](const testing::TestParamInfo<LineRow>& testCase) {
                             return CaseName(testCase.param.what);
                         });

// Sixteen units writing at once: every line belongs to one unit, whole.
TEST(K5ctlLine, SixteenUnitsNeverShareALine) {
    constexpr unsigned kUnits = 16;
    ComPorts alone;
    alone.Put(1, {});
    const std::string expected = AsLines(alone.Run({"--port", "1", "configure"}).out);

    ComPorts ports;
    for (unsigned n = 1; n <= kUnits; ++n) {
        ports.Put(n, {});
    }
    const ChildOutcome line = ports.Run({"--port", "1-16", "configure"});
    EXPECT_EQ(line.exitStatus, 0) << line.err;
    const SplitOutput out = Split(line.out, kUnits);
    ASSERT_EQ(out.units.size(), kUnits) << line.out;
    for (const auto& [com, text] : out.units) {
        EXPECT_EQ(text, expected) << com;
    }
    EXPECT_EQ(std::count(out.rest.begin(), out.rest.end(), '\n'), kUnits + 2) << out.rest;
}

TEST(K5ctlLine, InterruptStopsEveryUnitCleanly) {
    constexpr unsigned kUnits = 3;
    Scratch scratch("interrupt");
    ComPorts ports;
    std::vector<sim::Simulator*> amps;
    for (unsigned n = 1; n <= kUnits; ++n) {
        amps.push_back(&ports.Put(n, {}));
    }
    const std::string records = (scratch / "records.jsonl").string();
    ChildProcess program(
        ports.Command({"--port", "1-3", "configure", "--time-scale", "1", "--json", records}),
        ports.Mapping());
    ASSERT_TRUE(program.Started());
    for (unsigned n = 1; n <= kUnits; ++n) {
        ASSERT_TRUE(program.WaitForOutput("COM" + std::to_string(n) +
                                          ": Start K5 Power AMP Configuration processing\n"));
    }
    program.Signal(SIGINT);
    const ChildOutcome r = program.Finish();
    EXPECT_EQ(r.exitStatus, 130) << r.err;
    const SplitOutput out = Split(r.out, kUnits);
    for (unsigned n = 1; n <= kUnits; ++n) {
        const std::string com = "COM" + std::to_string(n);
        ASSERT_TRUE(out.units.contains(com)) << r.out;
        EXPECT_TRUE(out.units.at(com).ends_with("\n\nCancelled\n")) << out.units.at(com);
        // Nothing written, or written and locked again: never a register left unlocked.
        const std::vector<uint32_t> keys = KeyWrites(*amps[n - 1]);
        EXPECT_TRUE(keys.empty() || keys == (std::vector<uint32_t>{kKeyWriteUnlock, kKeyWriteLock}))
            << com;
    }
    const std::vector<nlohmann::json> lines = Records(records);
    ASSERT_EQ(lines.size(), kUnits);
    for (const nlohmann::json& record : lines) {
        EXPECT_EQ(record["outcome"], "stopped") << record;
    }
}

// The program on a terminal of its own (TERM=xterm) of `rows` lines (0: the size unknown):
// everything it wrote there, and its exit status.
ChildOutcome RunOnTerminal(std::vector<std::string> argv, const test::Environment& added,
                           unsigned short rows = 0) {
    // Made before the fork: the child only executes.
    std::vector<std::string> environment = {"TERM=xterm"};
    for (const auto& [name, value] : added) {
        environment.push_back(name + "=" + value);
    }
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!std::string_view(*entry).starts_with("TERM=")) {
            environment.emplace_back(*entry);
        }
    }
    std::vector<char*> args;
    for (std::string& arg : argv) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    std::vector<char*> env;
    for (std::string& entry : environment) {
        env.push_back(entry.data());
    }
    env.push_back(nullptr);
    int terminal = -1;
    winsize size{};
    size.ws_row = rows;
    size.ws_col = 80;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, rows != 0 ? &size : nullptr);
    if (pid == 0) {
        execve(args[0], args.data(), env.data());
        _exit(127);
    }
    ChildOutcome outcome;
    if (pid < 0) {
        return outcome;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(terminal, buffer, sizeof buffer);
        if (n > 0) {
            outcome.out.append(buffer, static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // EIO once the program has closed the terminal
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(terminal);
    outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    return outcome;
}

TEST(K5ctlLine, TerminalShowsALiveLinePerUnitAndTheSummary) {
    ComPorts ports;
    const sim::Simulator& first = ports.Put(1, {});
    const sim::Simulator& silent = ports.Put(2, {.silent = true});
    const ChildOutcome r =
        RunOnTerminal(ports.Command({"--port", "1,2", "configure"}), ports.Mapping());
    EXPECT_EQ(r.exitStatus, 40) << r.out;
    // The lines are redrawn in place, never printed one after another with their prefixes.
    EXPECT_NE(r.out.find("\x1b[2A\rCOM1  "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("COM1: "), std::string::npos) << r.out;
    // The last frame (a unit's line starts with a carriage return and ends by clearing the
    // rest of it) and the summary (the terminal writes each line feed as "\r\n").
    const auto lastLine = [&r](const std::string& label) {
        const size_t at = r.out.rfind("\r" + label + "  ");
        return at == std::string::npos ? ""
                                       : r.out.substr(at + 1, r.out.find("\x1b[K", at) - at - 1);
    };
    EXPECT_TRUE(lastLine("COM1").starts_with("COM1  " + first.DevicePath() + " ")) << r.out;
    EXPECT_NE(lastLine("COM1").find("  success  "), std::string::npos) << r.out;
    EXPECT_TRUE(lastLine("COM2").starts_with("COM2  " + silent.DevicePath() + " ")) << r.out;
    EXPECT_NE(lastLine("COM2").find("  failed, exit 1  "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\r\nPORT  DEVICE"), std::string::npos) << r.out;
}

TEST(K5ctlLine, AShortTerminalShowsTheUnitsThatFitAndCountsTheOthers) {
    ComPorts ports;
    for (unsigned com = 1; com <= 6; ++com) {
        ports.Put(com, {});
    }
    const ChildOutcome r =
        RunOnTerminal(ports.Command({"--port", "1-6", "link-test"}), ports.Mapping(), 5);
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    // Five lines hold three units and the count of the others, and the cursor never goes up
    // past them: a frame taller than the screen would scroll and be drawn again below.
    EXPECT_EQ(r.out.find("\rCOM4  "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\rand 3 more: 0 running, 3 succeeded, 0 failed\x1b[K"), std::string::npos)
        << r.out;
    for (const char* tooFar : {"\x1b[5A", "\x1b[6A", "\x1b[7A"}) {
        EXPECT_EQ(r.out.find(tooFar), std::string::npos) << r.out;
    }
}

// A log folder that others can write: what was planted there is refused before the line.
struct Planted {
    std::string what;
    bool symbolic;  // a symbolic link, else a second name (hard link) of another file
};

class PlantedLog : public testing::TestWithParam<Planted> {};

TEST_P(PlantedLog, IsRefusedBeforeAnythingGoesOnTheLine) {
    Scratch scratch(CaseName(GetParam().what));
    const std::filesystem::path logs = scratch / "logs";
    std::filesystem::create_directories(logs);
    const std::filesystem::path victim = scratch / "victim";
    std::ofstream(victim) << "keep";
    if (GetParam().symbolic) {
        std::filesystem::create_symlink(victim, logs / "COM2.log");
    } else {
        std::filesystem::create_hard_link(victim, logs / "COM2.log");
    }
    ComPorts ports;
    sim::Simulator& first = ports.Put(1, {});
    sim::Simulator& second = ports.Put(2, {});
    const ChildOutcome r = ports.Run({"--port", "1,2", "configure", "--log-dir", logs.string()});
    EXPECT_EQ(r.exitStatus, 21);
    EXPECT_NE(r.err.find("COM2.log: it "), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(victim), "keep");
    EXPECT_TRUE(first.Requests().empty());
    EXPECT_TRUE(second.Requests().empty());
}

INSTANTIATE_TEST_SUITE_P(K5ctlLine, PlantedLog,
                         testing::Values(Planted{"symbolic link", true},
                                         Planted{"hard link", false}),
                         [](const testing::TestParamInfo<Planted>& testCase) {
                             return CaseName(testCase.param.what);
                         });

}  // namespace
}  // namespace k5::cli
