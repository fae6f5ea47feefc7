// k5ctl inspect against simulated K5s: it reads and decodes, and never writes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cli/run_record.h"
#include "sim/simulator.h"
#include "tests/support/case_name.h"
#include "tests/support/child_process.h"

namespace k5::cli {
namespace {

using Outcome = test::ChildOutcome;

Outcome RunK5ctl(const sim::Simulator& amp, std::vector<std::string> args) {
    args.insert(args.begin(), {K5CTL_PATH, "--device", amp.DevicePath()});
    args.insert(args.end(), {"--time-scale", "0.01"});
    return test::RunProgram(args);
}

std::vector<Json> ReadRecords(const std::filesystem::path& path) {
    std::vector<Json> records;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        records.push_back(Json::parse(line));
    }
    return records;
}

// Whether anything but a query or a register read reached the amplifier.
std::string FirstChange(const sim::Simulator& amp) {
    for (const sim::Request& request : amp.Requests()) {
        const bool query =
            request.kind == sim::RequestKind::Text && request.text.find('=') == std::string::npos;
        if (!query && request.kind != sim::RequestKind::ReadRegister) {
            return std::string(sim::Describe(request.kind)) + " " + request.text;
        }
    }
    return "";
}

struct AfterConfiguration {
    const char* name;
    uint32_t left, right;
    std::vector<std::string> settings;
    uint32_t ep, red, rec;
    std::string stmaxLine;  // as inspect prints what it read
};

const AfterConfiguration kAfterConfiguration[] = {
    {"Defaults",
     760,
     760,
     {},
     2,
     5,
     2,
     "Reg STMAX  = 0xD347D5F0: Pmax 1520(0x5f0), Ip 839(0x347), marker 0xD000D000\n"},
    {"OwnSettings",
     700,
     721,
     {"--pmax", "640", "--pc", "310", "--ip", "41", "--pref", "1200", "--cp", "0.5", "--ep", "11",
      "--red", "3", "--rec", "6"},
     11,
     3,
     6,
     "Reg STMAX  = 0xD32CD553: Pmax 1363(0x553), Ip 812(0x32c), marker 0xD000D000\n"},
};

class InspectAfterConfiguration : public testing::TestWithParam<AfterConfiguration> {};

TEST_P(InspectAfterConfiguration, DecodesWhatTheRunWroteAndWritesNothing) {
    const AfterConfiguration& row = GetParam();
    auto amp = sim::Simulator::Start({.left = row.left, .right = row.right});
    ASSERT_TRUE(amp);
    const std::filesystem::path records =
        std::filesystem::temp_directory_path() /
        ("k5ctl_examine_" + std::string(row.name) + "_" + std::to_string(getpid()));
    std::filesystem::remove(records);

    std::vector<std::string> configure = {"configure", "--json", records.string()};
    configure.insert(configure.end(), row.settings.begin(), row.settings.end());
    const Outcome configured = RunK5ctl(*amp, configure);
    ASSERT_EQ(configured.exitStatus, 0) << configured.out << configured.err;

    amp->ClearRequests();
    std::vector<std::string> inspect = {
        "inspect", "--left",        std::to_string(row.left), "--right", std::to_string(row.right),
        "--json",  records.string()};
    inspect.insert(inspect.end(), row.settings.begin(), row.settings.end());
    const Outcome inspected = RunK5ctl(*amp, inspect);
    EXPECT_EQ(inspected.exitStatus, 0) << inspected.err;
    EXPECT_EQ(inspected.err, "");
    EXPECT_EQ(FirstChange(*amp), "");
    EXPECT_NE(inspected.out.find(row.stmaxLine), std::string::npos) << inspected.out;
    EXPECT_NE(inspected.out.find("Power: On\n"), std::string::npos) << inspected.out;
    // The would-be values are what the run wrote.
    EXPECT_EQ(inspected.out.find("(differs)"), std::string::npos) << inspected.out;

    const std::vector<Json> lines = ReadRecords(records);
    std::filesystem::remove(records);
    ASSERT_EQ(lines.size(), 2u);
    const Json& run = lines[0];
    const Json& look = lines[1];
    EXPECT_EQ(look["command"], "inspect");
    EXPECT_EQ(look["outcome"], "success");
    EXPECT_EQ(look["registers"]["stmax"], run["stmax"]);
    EXPECT_EQ(look["registers"]["stpte"], run["stpte"]);
    EXPECT_EQ(look["registers"]["stclip"], run["stclip"]);
    EXPECT_EQ(look["decoded"]["stmax"]["pmax"], run["calc_pmax"]);
    EXPECT_EQ(look["decoded"]["stmax"]["ip"], run["calc_ip"]);
    EXPECT_EQ(look["decoded"]["stmax"]["marker"], 0xD000D000u);
    EXPECT_EQ(look["decoded"]["stpte"]["pc"], run["calc_pc"]);
    EXPECT_EQ(look["decoded"]["stpte"]["ep"], row.ep);
    EXPECT_EQ(look["decoded"]["stpte"]["red"], row.red);
    EXPECT_EQ(look["decoded"]["stpte"]["rec"], row.rec);
    EXPECT_EQ(look["decoded"]["stclip"]["clip_code"], run["stclip"].get<uint32_t>() >> 24);
    EXPECT_EQ(look["would_write"]["stmax"], run["stmax"]);
    EXPECT_EQ(look["would_write"]["stpte"], run["stpte"]);
    EXPECT_EQ(look["would_write"]["stclip"], run["stclip"]);
}

INSTANTIATE_TEST_SUITE_P(K5ctlInspect, InspectAfterConfiguration,
                         testing::ValuesIn(kAfterConfiguration), test::ByCaseName());

struct Failure {
    const char* name;
    sim::SimConfig config;
    std::string errorLine;
};

const Failure kFailures[] = {
    {"Silent", {.silent = true}, "k5ctl: inspect: no K5 answered the model query"},
    {"CorruptRegisterReplies",
     {.corruptChecksum = true},
     "k5ctl: inspect: STMAX could not be read"},
};

class InspectFailure : public testing::TestWithParam<Failure> {};

TEST_P(InspectFailure, ExitsOneWithALineOnStandardError) {
    const Failure& row = GetParam();
    auto amp = sim::Simulator::Start(row.config);
    ASSERT_TRUE(amp);
    const Outcome outcome = RunK5ctl(*amp, {"inspect"});
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_TRUE(outcome.err.starts_with(row.errorLine)) << outcome.err;
    EXPECT_EQ(FirstChange(*amp), "");
}

INSTANTIATE_TEST_SUITE_P(K5ctlInspect, InspectFailure, testing::ValuesIn(kFailures),
                         test::ByCaseName());

}  // namespace
}  // namespace k5::cli
