// Runs the built k5ctl against a simulated K5, as a production script would.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "sim/simulator.h"
#include "tests/support/case_name.h"
#include "tests/support/child_process.h"

namespace k5::cli {
namespace {

using Outcome = test::ChildOutcome;

// k5ctl with these arguments, running.
class K5ctl : public test::ChildProcess {
public:
    explicit K5ctl(std::vector<std::string> args) : ChildProcess(WithProgram(std::move(args))) {}

    static std::vector<std::string> WithProgram(std::vector<std::string> args) {
        args.insert(args.begin(), K5CTL_PATH);
        return args;
    }
};

Outcome RunK5ctl(std::vector<std::string> args) {
    K5ctl program(std::move(args));
    EXPECT_TRUE(program.Started());
    return program.Finish();
}

std::unique_ptr<sim::Simulator> StartSim(sim::SimConfig config) {
    auto sim = sim::Simulator::Start(std::move(config));
    EXPECT_TRUE(sim);
    return sim;
}

const char* const kFast[] = {"--time-scale", "0.01"};

std::vector<std::string> Configure(const sim::Simulator& sim, std::vector<std::string> extra) {
    std::vector<std::string> args = {"--device", sim.DevicePath(), "configure", kFast[0], kFast[1]};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

TEST(K5ctlProgram, ConfigurePrintsTheLogAndExitsWithTheResult) {
    auto sim = StartSim({.left = 760, .right = 760});
    ASSERT_TRUE(sim);
    const Outcome ok = RunK5ctl(Configure(*sim, {}));
    EXPECT_EQ(ok.exitStatus, 0) << ok.err;
    EXPECT_TRUE(ok.out.starts_with("Start K5 Power AMP Configuration processing\n"));
    EXPECT_TRUE(
        ok.out.ends_with("REG STMAX = 0XD347D5F0\nREG STPTE = 0X0054229B\n"
                         "REG STCLIP = 0X0C000000\n\nSend new register values to K5...\n"
                         "Reg STMAX is sent.\nReg STPTE is sent.\nReg STCLIP is sent.\n"
                         "\nVerify the modified register values...\n"
                         "Reg STMAX is verified.\nReg STPTE is verified.\n"
                         "Reg STCLIP is verified.\n"
                         "\nCalculating the output parameters...\n"
                         "Max power at 2ohms is: 540\n"
                         "Max power at 2ohms(I limit) is: 792\n"
                         "Continuous power at 4ohms is: 197\n"))
        << ok.out;
    EXPECT_EQ(ok.err, "");
}

struct FailureCase {
    const char* name;
    sim::SimConfig config;
    std::vector<std::string> settings;
    int code;
    std::string ending;
};

class ConfigureFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(ConfigureFailure, EndsWithItsTextAndCode) {
    const FailureCase& c = GetParam();
    auto sim = StartSim(c.config);
    ASSERT_TRUE(sim);
    const Outcome failed = RunK5ctl(Configure(*sim, c.settings));
    EXPECT_EQ(failed.exitStatus, c.code);
    EXPECT_TRUE(failed.out.ends_with(c.ending)) << failed.out;
    if (!c.settings.empty()) {
        for (const sim::Request& request : sim->Requests()) {
            EXPECT_NE(request.kind, sim::RequestKind::WriteRegister);
        }
    }
}

const FailureCase kFailures[] = {
    {"no K5",
     {.silent = true},
     {},
     1,
     "\nCan not find K5 unit,please check connection and try again.\n"},
    {"connection error",
     {.powerAnswer = "Unknown"},
     {},
     2,
     "\nK5 connection error,please check connection and try again.\n"},
    {"conductance out of range",
     {.left = 500, .right = 720},
     {},
     3,
     "\nGet wrong cofficient value,please check whether the 4ohms load is connected\n"},
    {"unbalanced channels",
     {.left = 600, .right = 660},
     {},
     4,
     "\nThe difference between left and right conductance is too large,please check the "
     "unit and try again\n"},
    {"read-back mismatch",
     {.readbackMismatch = true},
     {},
     5,
     "\nSet AMP register value error,please check connection and try again\n"},
    // A Pmax field wider than its 12 bits: named, and nothing unlocked or written.
    {"Pmax wider than 12 bits",
     {},
     {"--pref", "300"},
     3,
     "Calculated Ip = 1453(0x5ad)\n"
     "Calculated Pmax = 4560(0x11d0) is above the 12-bit register limit of 4095(0xfff),"
     "please raise Pref(W) and try again.\n"
     "\nGet wrong cofficient value,please check whether the 4ohms load is connected\n"},
};
INSTANTIATE_TEST_SUITE_P(K5ctlProgram, ConfigureFailure, testing::ValuesIn(kFailures),
                         k5::test::ByCaseName());

TEST(K5ctlProgram, ReportIsWrittenAfterASuccess) {
    auto sim = StartSim({.left = 760, .right = 760});
    ASSERT_TRUE(sim);
    const std::filesystem::path report =
        std::filesystem::temp_directory_path() / ("k5ctl_report_" + std::to_string(getpid()));
    std::filesystem::remove(report);
    const Outcome ok = RunK5ctl(Configure(*sim, {"--report", report.string()}));
    EXPECT_EQ(ok.exitStatus, 0) << ok.err;
    std::ifstream in(report, std::ios::binary);
    const std::string written{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const size_t headerEnd = written.find(":\r\n");
    ASSERT_NE(headerEnd, std::string::npos);
    EXPECT_TRUE(written.starts_with("\nConfiguration Process log - "));
    EXPECT_EQ(written.substr(headerEnd + 3), ok.out);
    std::filesystem::remove(report);

    const Outcome unwritable =
        RunK5ctl(Configure(*sim, {"--report", "/nonexistent-dir/CfgLog.txt"}));
    EXPECT_EQ(unwritable.exitStatus, 21);
    EXPECT_EQ(unwritable.err, "Failed: /nonexistent-dir/CfgLog.txt: No such file or directory\n");
}

TEST(K5ctlProgram, InterruptStopsTheRun) {
    auto sim = StartSim({.left = 760, .right = 760});
    ASSERT_TRUE(sim);
    // Full-length pauses, so the interrupt lands in the first one.
    K5ctl program({"--device", sim->DevicePath(), "configure"});
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(program.WaitForOutput("Start K5 Power AMP Configuration processing\n"));
    program.Signal(SIGINT);
    const Outcome stopped = program.Finish();
    EXPECT_EQ(stopped.exitStatus, 130);
    EXPECT_EQ(stopped.out, "Start K5 Power AMP Configuration processing\n\nCancelled\n");
    EXPECT_TRUE(sim->Requests().empty());
}

TEST(K5ctlProgram, ServiceCommands) {
    auto sim = StartSim({});
    ASSERT_TRUE(sim);
    const std::string path = sim->DevicePath();

    Outcome r = RunK5ctl({"--device", path, "link-test"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "Link OK\n");

    r = RunK5ctl({"--device", path, "burn-in", "on"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(sim->State().burnIn);

    r = RunK5ctl({"--device", path, "reset-registers"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "Set AMP regsiters to default values: OK\n");

    sim->Update([](sim::SimConfig& config) { config.silent = true; });
    r = RunK5ctl({"--device", path, "link-test"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "Link error\n");
    r = RunK5ctl({"--device", path, "reset-registers"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "Set AMP regsiters to default values: Error!\n");
}

class UnopenablePort : public testing::TestWithParam<std::string> {};

TEST_P(UnopenablePort, NamesTheReason) {
    const Outcome r = RunK5ctl({"--device", "/nonexistent/tty", GetParam()});
    EXPECT_EQ(r.exitStatus, 20) << GetParam();
    EXPECT_TRUE(r.err.starts_with("Port error")) << r.err;
    EXPECT_GT(r.err.size(), std::string("Port error\n").size()) << "the reason is missing";
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(K5ctlProgram, UnopenablePort,
                         testing::Values("link-test", "configure", "reset-registers"),
                         [](const testing::TestParamInfo<std::string>& testCase) {
                             return k5::test::CaseName(testCase.param);
                         });

TEST(K5ctlProgram, PortErrorAndUsage) {
    const Outcome burnIn = RunK5ctl({"--device", "/nonexistent/tty", "burn-in", "off"});
    EXPECT_EQ(burnIn.exitStatus, 20);

    const Outcome refused = RunK5ctl({"--port", "1", "configure", "--pmax", "1001"});
    EXPECT_EQ(refused.exitStatus, 64);
    EXPECT_EQ(refused.err, "k5ctl: --pmax: enter an integer between 0 and 1000\n");

    const Outcome help = RunK5ctl({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: k5ctl")) << help.out;
}

}  // namespace
}  // namespace k5::cli
