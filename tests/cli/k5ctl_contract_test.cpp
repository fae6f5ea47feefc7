// k5ctl's contract with a production line: one exit status per outcome, signals that cannot
// leave the amplifier half-written, and the JSON record, each through the built program
// against simulated K5s.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "devlink/registers.h"
#include "k5/version.h"
#include "sim/simulator.h"
#include "tests/cli/k5ctl_harness.h"
#include "tests/support/case_name.h"
#include "tests/support/child_process.h"

namespace k5::cli {
namespace {

using k5::test::ByCaseName;
using k5::test::CaseName;
using k5::test::ChildOutcome;
using k5::test::ChildProcess;
using test::ComPorts;
using test::KeyWrites;

struct Stop {
    std::string after;  // sent once standard output holds this
    int signal = 0;
};

struct Row {
    int status;
    std::string what;
    std::optional<sim::SimConfig> com3;  // the K5 on COM3; no K5 anywhere without it
    std::vector<std::string> args;
    std::string errStart = "";  // what standard error begins with; empty: anything
    std::optional<Stop> stop = std::nullopt;
    // The K5 on COM3 hangs up as the calibration's power-off arrives (counted at run time).
    bool hangUpAtPowerOff = false;
};

// The number of requests a successful calibration makes, counted on a K5 of its own: the
// last of them is the power-off.
size_t CalibrationRequests() {
    ComPorts ports;
    sim::Simulator& amp = ports.Put(3, {});
    EXPECT_EQ(ports.Run({"--port", "3", "calibrate"}).exitStatus, 0);
    return amp.Requests().size();
}

class ExitStatus : public testing::TestWithParam<Row> {};

TEST_P(ExitStatus, NamesTheOutcome) {
    const Row& row = GetParam();
    ComPorts ports;
    if (row.com3) {
        sim::SimConfig com3 = *row.com3;
        if (row.hangUpAtPowerOff) {
            com3.hangUpAfter = CalibrationRequests();
        }
        ports.Put(3, com3);
    }
    ChildProcess program(ports.Command(row.args), ports.Mapping());
    ASSERT_TRUE(program.Started());
    if (row.stop) {
        ASSERT_TRUE(program.WaitForOutput(row.stop->after));
        program.Signal(row.stop->signal);
    }
    const ChildOutcome r = program.Finish();
    EXPECT_EQ(r.exitStatus, row.status) << r.out << r.err;
    EXPECT_TRUE(r.err.starts_with(row.errStart)) << r.err;
    if (row.stop) {
        // A stopped calibration still shows where its page stood.
        EXPECT_NE(r.out.find("\nProgress: "), std::string::npos) << r.out;
    }
}

const std::string kMissingRecord = "/nonexistent-dir/record.jsonl";

// Every outcome has its own exit status.
const Row kRows[] = {
    {0, "configure success", sim::SimConfig{}, {"--port", "3", "configure"}},
    {0, "link OK", sim::SimConfig{}, {"--port", "3", "link-test"}},
    {0, "reset OK", sim::SimConfig{}, {"--port", "3", "reset-registers"}},
    {0, "K5 found", sim::SimConfig{}, {"detect"}},
    {0, "warm-up ended", sim::SimConfig{}, {"--port", "3", "warm-up", "--minutes", "0"}},
    {0, "calibration complete", sim::SimConfig{}, {"--port", "3", "calibrate"}},
    {1, "configure: no K5", sim::SimConfig{.silent = true}, {"--port", "3", "configure"}},
    {2,
     "configure: connection error",
     sim::SimConfig{.powerAnswer = "Unknown"},
     {"--port", "3", "configure"}},
    {3, "configure: conductance range", sim::SimConfig{.left = 500}, {"--port", "3", "configure"}},
    {4,
     "configure: unbalanced",
     sim::SimConfig{.left = 600, .right = 660},
     {"--port", "3", "configure"}},
    {5,
     "configure: register error",
     sim::SimConfig{.readbackMismatch = true},
     {"--port", "3", "configure"}},
    {1, "Link error", sim::SimConfig{.silent = true}, {"--port", "3", "link-test"}},
    {1, "reset Error!", sim::SimConfig{.silent = true}, {"--port", "3", "reset-registers"}},
    {1,
     "burn-in: no echo",
     sim::SimConfig{.silent = true},
     {"--port", "3", "burn-in", "on"},
     "k5ctl: burn-in on: the amplifier did not echo the mode frame\n"},
    {1,
     "calibrate: failed",
     sim::SimConfig{.ignorePaths = {"Main.Mute"}},
     {"--port", "3", "calibrate"}},
    {5, "calibrate: wrong load", sim::SimConfig{.left = 500}, {"--port", "3", "calibrate"}},
    {9,
     "calibrate: read-back mismatch",
     sim::SimConfig{.readbackMismatch = true},
     {"--port", "3", "calibrate"}},
    {11,
     "calibrate: power-off failed",
     sim::SimConfig{},
     {"--port", "3", "calibrate"},
     "",
     std::nullopt,
     true},
    {14, "warm-up error", sim::SimConfig{.ignorePaths = {"Dsp.Test"}}, {"--port", "3", "warm-up"}},
    {20, "configure: port not opened", std::nullopt, {"--port", "9", "configure"}, "Port error: "},
    {20, "calibrate: port not opened", std::nullopt, {"--port", "9", "calibrate"}, "Port error: "},
    {21,
     "record not written",
     sim::SimConfig{},
     {"detect", "--json", kMissingRecord},
     "k5ctl: --json " + kMissingRecord + ": No such file or directory"},
    {31, "no K5 on the chosen port", sim::SimConfig{.silent = true}, {"--port", "3", "detect"}},
    {32, "K5 not powered on", sim::SimConfig{.standby = true}, {"detect", "--warmed-up"}},
    {34, "no K5 on COM1 to COM15", std::nullopt, {"detect"}},
    {64, "bad usage", std::nullopt, {"--port", "3", "frobnicate"}, "k5ctl: unknown command"},
    {64,
     "control character in a unit ID",
     std::nullopt,
     {"--port", "3", "configure", "--unit", "K5\n0042"},
     "k5ctl: --unit takes 1 to 64 printable characters\n"},
    {64,
     "refused setting",
     std::nullopt,
     {"--port", "3", "configure", "--cp", "1.5"},
     "k5ctl: --cp: enter a number between 0.28125 and 0.9\n"},
    {130,
     "calibrate stopped",
     sim::SimConfig{},
     {"--port", "3", "calibrate", "--time-scale", "1"},
     "",
     Stop{"Starting the calibration!\n", SIGTERM}},
};
INSTANTIATE_TEST_SUITE_P(K5ctlContract, ExitStatus, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& testCase) {
                             return "exit" + std::to_string(testCase.param.status) + "_" +
                                    CaseName(testCase.param.what);
                         });

TEST(K5ctlContract, ClosedOutputDoesNotStopTheRun) {
    auto amp = sim::Simulator::Start({});
    ASSERT_TRUE(amp);
    // head leaves after the first line; every later write meets a closed pipe.
    const ChildOutcome r =
        k5::test::RunProgram({"/bin/bash", "-c",
                              "\"$0\" --device \"$1\" --time-scale 0.1 configure | head -1; "
                              "exit \"${PIPESTATUS[0]}\"",
                              K5CTL_PATH, amp->DevicePath()});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "Start K5 Power AMP Configuration processing\n");
    EXPECT_EQ(KeyWrites(*amp), (std::vector<uint32_t>{kKeyWriteUnlock, kKeyWriteLock}));
    EXPECT_EQ(amp->State().stclip, 0x0C000000u);
}

TEST(K5ctlContract, HangUpStopsTheRunAsCtrlCDoes) {
    auto amp = sim::Simulator::Start({});
    ASSERT_TRUE(amp);
    ChildProcess program({K5CTL_PATH, "--device", amp->DevicePath(), "configure"});
    ASSERT_TRUE(program.Started());
    // The registers are locked; the run waits before it reports the output figures.
    ASSERT_TRUE(program.WaitForOutput("\nCalculating the output parameters...\n"));
    program.Signal(SIGHUP);
    const ChildOutcome r = program.Finish();
    EXPECT_EQ(r.exitStatus, 130);
    EXPECT_TRUE(r.out.ends_with("\nCalculating the output parameters...\n\nCancelled\n")) << r.out;
    EXPECT_EQ(KeyWrites(*amp), (std::vector<uint32_t>{kKeyWriteUnlock, kKeyWriteLock}));
}

// Whether `signal` waits, not yet taken, for the process `pid`.
bool Pending(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("ShdPnd:")) {
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
        }
    }
    return false;
}

struct StopSignal {
    const char* name;
    int signal;
};

class StraySignal : public testing::TestWithParam<StopSignal> {};

TEST_P(StraySignal, LeavesTheStopSignalWorking) {
    const int stopSignal = GetParam().signal;
    auto amp = sim::Simulator::Start({});
    ASSERT_TRUE(amp);
    ChildProcess program({K5CTL_PATH, "--device", amp->DevicePath(), "configure"});
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(program.WaitForOutput("Start K5 Power AMP Configuration processing\n"));
    program.Signal(SIGUSR2);
    // Taken before the stop is sent, so that the program cannot take the two together.
    for (int wait = 0; wait < 500 && Pending(program.Pid(), SIGUSR2); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    program.Signal(stopSignal);
    const ChildOutcome r = program.Finish();
    EXPECT_EQ(r.exitStatus, 130);
    EXPECT_EQ(r.out, "Start K5 Power AMP Configuration processing\n\nCancelled\n");
}

INSTANTIATE_TEST_SUITE_P(K5ctlContract, StraySignal,
                         testing::Values(StopSignal{"SIGINT", SIGINT},
                                         StopSignal{"SIGTERM", SIGTERM},
                                         StopSignal{"SIGHUP", SIGHUP}),
                         ByCaseName());

const std::string kMissingOutput = "/nonexistent-dir/k5ctl.out";

// A command and its file option.
using FileCommand = std::vector<std::string>;

class FileThatCannotBeWritten : public testing::TestWithParam<FileCommand> {};

TEST_P(FileThatCannotBeWritten, EndsTheCommandBeforeTheLine) {
    ComPorts ports;
    sim::Simulator& amp = ports.Put(3, {});
    std::vector<std::string> args = {"--port", "3"};
    args.insert(args.end(), GetParam().begin(), GetParam().end());
    const ChildOutcome r = ports.Run(args);
    EXPECT_EQ(r.exitStatus, 21);
    EXPECT_NE(r.err.find(kMissingOutput + ": No such file or directory\n"), std::string::npos)
        << r.err;
    EXPECT_TRUE(amp.Requests().empty());
}

INSTANTIATE_TEST_SUITE_P(K5ctlContract, FileThatCannotBeWritten,
                         testing::Values(FileCommand{"configure", "--json", kMissingOutput},
                                         FileCommand{"configure", "--report", kMissingOutput},
                                         FileCommand{"calibrate", "--json", kMissingOutput}),
                         [](const testing::TestParamInfo<FileCommand>& testCase) {
                             return CaseName(testCase.param[0] + " " + testCase.param[1]);
                         });

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(K5ctlContract, ShortWriteIsCutBackAndTheNextRecordStartsItsOwnLine) {
    auto amp = sim::Simulator::Start({});
    ASSERT_TRUE(amp);
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("k5ctl_short_" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::filesystem::path record = dir / "record.jsonl";
    const std::filesystem::path report = dir / "CfgLog.txt";
    // Another station's record, a little below the limit of 512 bytes the first run gets.
    const std::string earlier = nlohmann::json{{"pad", std::string(480, 'x')}}.dump() + "\n";
    std::ofstream(record, std::ios::binary) << earlier;
    const std::vector<std::string> configure = {
        K5CTL_PATH,  "--device", amp->DevicePath(), "--time-scale", "0.01",
        "configure", "--json",   record.string(),   "--report",     report.string()};
    // ulimit counts 512-byte blocks; past the limit a write falls short.
    std::vector<std::string> limited = {"/bin/sh", "-c",
                                        "ulimit -f 1 && trap '' XFSZ && exec \"$0\" \"$@\""};
    limited.insert(limited.end(), configure.begin(), configure.end());

    const ChildOutcome cut = k5::test::RunProgram(limited);
    EXPECT_EQ(cut.exitStatus, 21);
    EXPECT_EQ(ReadFile(record), earlier);
    EXPECT_EQ(ReadFile(report), "");
    EXPECT_NE(cut.err.find("(the run itself ended with exit status 0)"), std::string::npos)
        << cut.err;

    // A station that went down mid-write has left a torn line.
    const std::string torn = R"({"command":"conf)";
    std::ofstream(record, std::ios::binary | std::ios::app) << torn;
    const ChildOutcome whole = k5::test::RunProgram(configure);
    EXPECT_EQ(whole.exitStatus, 0) << whole.err;
    const std::string written = ReadFile(record);
    ASSERT_TRUE(written.starts_with(earlier + torn + "\n")) << written;
    const nlohmann::json next =
        nlohmann::json::parse(written.substr(earlier.size() + torn.size() + 1));
    EXPECT_EQ(next["status"], 0);
    std::filesystem::remove_all(dir);
}

// What the record should hold, worked out here from the readings and the default settings
// in the order each program calculates.
struct Expected {
    uint32_t coeff0, calcPmax, calcPc, calcIp, stmax, stpte;
    double coeff1, coeff2;
    int32_t p2 = 0, p2i = 0, p4 = 0;
};
constexpr double kPmax = 500, kPc = 250, kIp = 36, kPref = 900;

uint32_t Trunc(double x) {
    return static_cast<uint32_t>(static_cast<int64_t>(x));
}

Expected ConfigureValues(uint32_t left, uint32_t right) {
    Expected e{};
    e.coeff0 = (left + right) >> 1;
    const double a = e.coeff0;
    const double c = 1 - (a - 760.0) * 0.0005;
    e.coeff2 = a * 1.664 * c;
    e.coeff1 = 1.564 * e.coeff2 * c;
    e.calcPmax = Trunc(a * 4.0 * kPmax * 0.9 / kPref);
    e.calcPc = Trunc(4.0 * e.coeff2 * kPc * 0.95 / kPref * 0.5);
    e.calcIp = Trunc(std::sqrt(kIp * kIp / kPref * 0.25 * 0.5) * e.coeff1);
    const double q = e.calcIp / e.coeff2;
    e.p2 = static_cast<int32_t>(Trunc(2 * (kPref * e.calcPmax) / e.coeff2 * 0.25));
    e.p2i = static_cast<int32_t>(Trunc(2 * (q * q * kPref)));
    e.p4 = static_cast<int32_t>(Trunc(e.calcPc * kPref / a * 0.25));
    e.stmax = 0xD000D000u | (e.calcIp << 16) | e.calcPmax;
    e.stpte = (5u << 20) | (2u << 17) | (2u << 12) | e.calcPc;
    return e;
}

Expected CalibrateValues(uint32_t left, uint32_t right) {
    Expected e{};
    e.coeff0 = (left + right) / 2;
    const double c0 = e.coeff0;
    const double k = 1.0 - (c0 - 760.0) * 0.0005;
    e.coeff2 = (k * c0) * 1.664;
    e.coeff1 = (k * e.coeff2) * 1.564;
    e.calcPmax = Trunc(((kPmax * c0) * 3.6) / kPref);
    e.calcPc = Trunc((((kPc * e.coeff2) * 3.8) / kPref) * 0.5);
    e.calcIp = Trunc(std::sqrt(((kIp * kIp) / kPref) * 0.125) * e.coeff1);
    e.stmax = 0xD000D000u | (e.calcIp << 16) | e.calcPmax;
    e.stpte = (5u << 20) | (2u << 17) | (2u << 12) | e.calcPc;
    return e;
}

void ExpectValues(const nlohmann::json& line, const Expected& e, uint32_t left, uint32_t right) {
    EXPECT_EQ(line["left"], left);
    EXPECT_EQ(line["right"], right);
    EXPECT_EQ(line["coeff0"], e.coeff0);
    EXPECT_DOUBLE_EQ(line["coeff1"].get<double>(), e.coeff1);
    EXPECT_DOUBLE_EQ(line["coeff2"].get<double>(), e.coeff2);
    EXPECT_EQ(line["calc_pmax"], e.calcPmax);
    EXPECT_EQ(line["calc_pc"], e.calcPc);
    EXPECT_EQ(line["calc_ip"], e.calcIp);
    EXPECT_EQ(line["stmax"], e.stmax);
    EXPECT_EQ(line["stpte"], e.stpte);
    EXPECT_EQ(line["stclip"], 0x0C000000u);
}

TEST(K5ctlContract, JsonLinesRecordTheRuns) {
    const unsigned seed = 0x4B35;
    std::mt19937 random(seed);
    const uint32_t left = std::uniform_int_distribution<uint32_t>(580, 870)(random);
    const uint32_t right = left + std::uniform_int_distribution<uint32_t>(0, 58)(random) - 29;
    SCOPED_TRACE("seed " + std::to_string(seed) + ": readings " + std::to_string(left) + ", " +
                 std::to_string(right));

    ComPorts ports;
    sim::Simulator& amp = ports.Put(3, {.left = left, .right = right});
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("k5ctl_record_" + std::to_string(getpid()));
    std::filesystem::remove(file);
    EXPECT_EQ(ports.Run({"--port", "3", "configure", "--json", file.string()}).exitStatus, 0);
    EXPECT_EQ(ports.Run({"--port", "3", "calibrate", "--json", file.string()}).exitStatus, 0);
    amp.Update([](sim::SimConfig& config) { config.left = 500; });
    EXPECT_EQ(ports.Run({"--port", "3", "configure", "--json", file.string()}).exitStatus, 3);

    std::ifstream in(file);
    std::vector<nlohmann::json> lines;
    for (std::string text; std::getline(in, text);) {
        lines.push_back(nlohmann::json::parse(text));
    }
    std::filesystem::remove(file);
    ASSERT_EQ(lines.size(), 3u);

    const std::regex isoTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)");
    for (const nlohmann::json& line : lines) {
        EXPECT_EQ(line["device"], amp.DevicePath());
        EXPECT_EQ(line["port"], 3);
        EXPECT_EQ(line["version"], kKitVersion);
        EXPECT_TRUE(std::regex_match(line["started"].get<std::string>(), isoTime)) << line;
        EXPECT_TRUE(std::regex_match(line["finished"].get<std::string>(), isoTime)) << line;
        EXPECT_LE(line["started"], line["finished"]);
    }

    const nlohmann::json& configured = lines[0];
    EXPECT_EQ(configured["command"], "configure");
    EXPECT_EQ(configured["status"], 0);
    EXPECT_EQ(configured["result"], 0);
    EXPECT_EQ(configured["settings"],
              nlohmann::json::parse(R"({"pmax":500,"pc":250,"ip":36,"pref":900,"cp":0.8125,
                  "ep":2,"red":5,"rec":2,"conductance-min":550,"conductance-max":900})"));
    const Expected byConfigure = ConfigureValues(left, right);
    ExpectValues(configured, byConfigure, left, right);
    EXPECT_EQ(configured["p2"], byConfigure.p2);
    EXPECT_EQ(configured["p2i"], byConfigure.p2i);
    EXPECT_EQ(configured["p4"], byConfigure.p4);

    const nlohmann::json& calibrated = lines[1];
    EXPECT_EQ(calibrated["command"], "calibrate");
    EXPECT_EQ(calibrated["status"], 0);
    EXPECT_EQ(calibrated["result"], 12);
    ExpectValues(calibrated, CalibrateValues(left, right), left, right);
    EXPECT_FALSE(calibrated.contains("p2"));

    // Out of range: the reading is recorded, nothing calculated from it.
    const nlohmann::json& refused = lines[2];
    EXPECT_EQ(refused["status"], 3);
    EXPECT_EQ(refused["left"], 500);
    EXPECT_EQ(refused["right"], right);
    for (const char* key : {"coeff0", "coeff1", "calc_pmax", "stmax", "stclip", "p4"}) {
        EXPECT_TRUE(refused[key].is_null()) << key;
    }
}

// The one record line that a run of `args` left in a file of its own, after `stop` if any.
nlohmann::json RecordOf(const ComPorts& ports, std::vector<std::string> args,
                        const std::optional<Stop>& stop, int& status) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("k5ctl_outcome_" + std::to_string(getpid()));
    std::filesystem::remove(file);
    args.insert(args.end(), {"--json", file.string()});
    ChildProcess program(ports.Command(args), ports.Mapping());
    EXPECT_TRUE(program.Started());
    if (stop) {
        EXPECT_TRUE(program.WaitForOutput(stop->after));
        program.Signal(stop->signal);
    }
    const ChildOutcome r = program.Finish();
    status = r.exitStatus;
    const std::string text = ReadFile(file);
    std::filesystem::remove(file);
    EXPECT_TRUE(text.ends_with("\n") && text.find('\n') + 1 == text.size()) << text << r.err;
    return nlohmann::json::parse(text, nullptr, false);
}

struct OutcomeRow {
    std::string what;
    std::optional<sim::SimConfig> com3;  // no K5 anywhere without it
    std::vector<std::string> args;       // after "--port 3"
    std::optional<Stop> stop;
    int status;
    std::string outcome;
    std::optional<int> result;  // null when empty
};

class RecordedOutcome : public testing::TestWithParam<OutcomeRow> {};

TEST_P(RecordedOutcome, TellsWhatBecameOfTheRun) {
    const OutcomeRow& row = GetParam();
    ComPorts ports;
    if (row.com3) {
        ports.Put(3, *row.com3);
    }
    std::vector<std::string> args = {"--port", "3"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    int status = -1;
    const nlohmann::json record = RecordOf(ports, args, row.stop, status);
    ASSERT_TRUE(record.is_object());
    EXPECT_EQ(status, row.status);
    EXPECT_EQ(record["status"], row.status);
    EXPECT_EQ(record["outcome"], row.outcome) << record;
    EXPECT_EQ(record["result"], row.result ? nlohmann::json(*row.result) : nlohmann::json())
        << record;
    for (const char* key : {"unit", "operator", "station"}) {
        EXPECT_TRUE(record.contains(key) && record[key].is_null()) << key;
    }
}

const sim::SimConfig kK5{};
const sim::SimConfig kSilent{.silent = true};
const Stop kStopAtStart{"Start K5 Power AMP Configuration processing\n", SIGTERM};

// Each recording command against a K5 that passes, one that fails it, a stop, and a COM port
// whose device is missing. The wizard's commands used to record the detection's "could not
// open" code 0 for a port error; no procedure ran, so now they record null as configure does.
const OutcomeRow kOutcomes[] = {
    {"configure success", kK5, {"configure"}, {}, 0, "success", 0},
    {"configure failed", kSilent, {"configure"}, {}, 1, "failed", 1},
    {"configure stopped",
     kK5,
     {"configure", "--time-scale", "1"},
     kStopAtStart,
     130,
     "stopped",
     {}},
    {"configure port error", {}, {"configure"}, {}, 20, "port-error", {}},
    {"detect success", kK5, {"detect"}, {}, 0, "success", 3},
    {"detect failed", kSilent, {"detect"}, {}, 31, "failed", 1},
    {"detect stopped",
     kSilent,
     {"detect", "--time-scale", "1"},
     Stop{"Looking for K5...\n", SIGINT},
     130,
     "stopped",
     {}},
    {"detect port error", {}, {"detect"}, {}, 20, "port-error", {}},
    {"warm-up success", kK5, {"warm-up", "--minutes", "0"}, {}, 0, "success", 17},
    {"warm-up failed",
     sim::SimConfig{.ignorePaths = {"Dsp.Test"}},
     {"warm-up"},
     {},
     14,
     "failed",
     14},
    {"warm-up stopped",
     kK5,
     {"warm-up", "--minutes", "5"},
     Stop{"05 : 00\n", SIGINT},
     130,
     "stopped",
     15},
    {"warm-up port error", {}, {"warm-up"}, {}, 20, "port-error", {}},
    {"calibrate success", kK5, {"calibrate"}, {}, 0, "success", 12},
    {"calibrate failed", sim::SimConfig{.left = 500}, {"calibrate"}, {}, 5, "failed", 5},
    {"calibrate stopped",
     kK5,
     {"calibrate", "--time-scale", "1"},
     Stop{"Starting the calibration!\n", SIGTERM},
     130,
     "stopped",
     1},  // the step the stop cut short failed; its final code is kept
    {"calibrate port error", {}, {"calibrate"}, {}, 20, "port-error", {}},
};
INSTANTIATE_TEST_SUITE_P(K5ctlContract, RecordedOutcome, testing::ValuesIn(kOutcomes),
                         [](const testing::TestParamInfo<OutcomeRow>& testCase) {
                             return CaseName(testCase.param.what);
                         });

TEST(K5ctlContract, IdentityGoesIntoTheRecordButNotTheReport) {
    ComPorts ports;
    ports.Put(3, {});
    const std::filesystem::path report =
        std::filesystem::temp_directory_path() / ("k5ctl_report_" + std::to_string(getpid()));
    std::filesystem::remove(report);
    int status = -1;
    const nlohmann::json record =
        RecordOf(ports,
                 {"--port", "3", "configure", "--report", report.string(), "--unit",
                  "K5-\u00c50042", "--operator=Anna Berg", "--station", "Line 2"},
                 std::nullopt, status);
    const std::string reportText = ReadFile(report);
    std::filesystem::remove(report);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(record["unit"], "K5-\u00c50042");
    EXPECT_EQ(record["operator"], "Anna Berg");
    EXPECT_EQ(record["station"], "Line 2");
    EXPECT_NE(reportText.find("Start K5 Power AMP Configuration processing"), std::string::npos);
    for (const char* name : {"K5-\u00c50042", "Anna Berg", "Line 2"}) {
        EXPECT_EQ(reportText.find(name), std::string::npos) << name;
    }
}

}  // namespace
}  // namespace k5::cli
