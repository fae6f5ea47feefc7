// The wizard's procedures run headless by the built k5ctl against simulators mapped to COM
// ports, as a production-line script would run them.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/simulator.h"
#include "tests/support/child_process.h"

namespace k5::cli {
namespace {

using test::ChildOutcome;
using Environment = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kLooking = "Looking for K5...\n\n";
constexpr const char* kCheckConnection =
    "Please double check the connection to the PC and the COM port selection then try again.\n";
constexpr const char* kFoundReminder =
    "Before starting the calibration, please make sure again that all the preparations below "
    "have been done:\na) All inputs are disconnected.\nb) The left and right outputs are "
    "connected with 4ohms load.\n\nThen please press Next to start the calibration.\n";

// COM1 to COM15 for the child: the given simulators where there are any, missing paths
// elsewhere, so that the machine's own serial ports never take part.
class ComPorts {
public:
    sim::Simulator& Put(unsigned port, sim::SimConfig config) {
        sims_.emplace_back(port, sim::Simulator::Start(std::move(config)));
        EXPECT_TRUE(sims_.back().second);
        return *sims_.back().second;
    }

    Environment Mapping() const {
        Environment env;
        for (unsigned n = 1; n <= 15; ++n) {
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

    ChildOutcome Run(std::vector<std::string> args) const {
        args.insert(args.begin(), {K5CTL_PATH, "--time-scale", "0.01"});
        return test::RunProgram(std::move(args), Mapping());
    }

private:
    std::vector<std::pair<unsigned, std::unique_ptr<sim::Simulator>>> sims_;
};

bool SawCommand(const sim::Simulator& amp, std::string_view command) {
    for (const auto& request : amp.Requests()) {
        if (std::string_view(reinterpret_cast<const char*>(request.raw.data()),
                             request.raw.size()) == command) {
            return true;
        }
    }
    return false;
}

TEST(K5ctlDetect, SearchPassesSilentAndWrongModelPortsToTheK5OnCom3) {
    ComPorts ports;
    ports.Put(1, {.silent = true});
    ports.Put(2, {.model = "K3"});
    ports.Put(3, {});
    const ChildOutcome r = ports.Run({"detect"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kLooking) + "Found K5 on COM3.\n\n" + kFoundReminder);

    // --port 0 is the same search.
    EXPECT_EQ(ports.Run({"--port", "0", "detect"}).exitStatus, 0);
}

TEST(K5ctlDetect, ResultCodesBecomeExitStatuses) {
    ComPorts none;
    ChildOutcome r = none.Run({"detect"});
    EXPECT_EQ(r.exitStatus, 14);
    EXPECT_EQ(r.out, std::string(kLooking) + "Can not find K5.\n\n" + kCheckConnection);

    r = none.Run({"--port", "4", "detect"});
    EXPECT_EQ(r.exitStatus, 10);
    EXPECT_EQ(r.out, std::string(kLooking) + "Can not open COM4.\n\n" + kCheckConnection);

    ComPorts silent;
    silent.Put(6, {.silent = true});
    r = silent.Run({"--port", "6", "detect"});
    EXPECT_EQ(r.exitStatus, 11);
    EXPECT_EQ(r.out, std::string(kLooking) + "Can not find K5 on COM6.\n\n" + kCheckConnection);

    // Said to be warmed up, a K5 in standby stops the search at its port.
    ComPorts standby;
    standby.Put(2, {.standby = true});
    standby.Put(3, {});
    r = standby.Run({"detect", "--warmed-up"});
    EXPECT_EQ(r.exitStatus, 12);
    EXPECT_EQ(r.out, std::string(kLooking) +
                         "Find K5 on COM2.\n\nBut the K5 has not been powered on.Please power on "
                         "K5 manually and then try again.\n");
    EXPECT_EQ(standby.Run({"detect"}).exitStatus, 0) << "not asked for power, COM2 will do";
}

TEST(K5ctlDetect, DeviceOptionIsRefusedForTheWizardsCommands) {
    ComPorts ports;
    for (const char* command : {"detect", "warm-up", "calibrate"}) {
        const ChildOutcome r = ports.Run({"--device", "/dev/null", command});
        EXPECT_EQ(r.exitStatus, 2) << command;
        EXPECT_NE(r.err.find("K5_COM"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ports.Run({"--port", "3", "calibrate", "--minutes", "1"}).exitStatus, 2);
    EXPECT_EQ(ports.Run({"--port", "3", "warm-up", "--minutes", "-1"}).exitStatus, 2);
    EXPECT_EQ(ports.Run({"--port", "0", "link-test"}).exitStatus, 2);
}

TEST(K5ctlCalibrate, SuccessfulRunPrintsTheStepLogAndFullProgress) {
    ComPorts ports;
    sim::Simulator& amp = ports.Put(3, {.left = 760, .right = 760});
    const ChildOutcome r = ports.Run({"--port", "3", "calibrate"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const std::string log =
        "Starting the calibration!\n\n"
        "1) Initializing the K5...  OK\n"
        "2) Measuring the load on K5 output...  OK\n"
        "3) Calculating the parameters...  OK\n"
        "4) Configuring the K5 with calculated parameters...  OK\n"
        "5) Verify the calibration...  OK\n"
        "\nK5 Calibration is successful.Now power off the K5...  OK\n"
        "\nProgress: 100%\n";
    EXPECT_EQ(r.out, std::string(kLooking) + "Found K5 on COM3.\n\n" + kFoundReminder + log);
    EXPECT_EQ(amp.State().power, sim::Power::Standby);
    EXPECT_EQ(amp.State().stmax, 0xD347D5F0u);
}

TEST(K5ctlCalibrate, FailuresExitWithTheFinalCodeAndTheBarWhereItStopped) {
    ComPorts ports;
    ports.Put(3, {.left = 500, .right = 760});
    ChildOutcome r = ports.Run({"--port", "3", "calibrate"});
    EXPECT_EQ(r.exitStatus, 5);
    EXPECT_TRUE(r.out.ends_with(
        "2) Measuring the load on K5 output...  Failed\n\nGet incorrect measured load "
        "values.Please power off the K5,check the Post AMP modules and then try again.\n"
        "\nProgress: 25%\n"))
        << r.out;

    ComPorts standby;
    standby.Put(3, {.standby = true});
    r = standby.Run({"--port", "3", "calibrate"});
    EXPECT_EQ(r.exitStatus, 12) << "a K5 in standby is not calibrated: detection says so";
}

TEST(K5ctlWarmUp, CountdownEndsWithTheAccomplishedText) {
    ComPorts ports;
    sim::Simulator& amp = ports.Put(3, {});
    const ChildOutcome r = ports.Run({"--port", "3", "warm-up", "--minutes", "0"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(r.out.ends_with(
        "Initializing Warming up\nInitializing Warming up OK\n\nWarming up will run for 10 "
        "minutes.During the Warming up, please do not press any buttons on K5,keep RS232 "
        "connection.If you want to quit the process,please press Exit.\n00 : 00\n"
        "Warm up accomplish.Please press Next to start calibration.\n"))
        << r.out;
    EXPECT_TRUE(SawCommand(amp, "\rMain.Volume=-8\r"));
    EXPECT_FALSE(SawCommand(amp, "\rMain.Mute=On\r")) << "a finished warm-up leaves the K5 on";
}

TEST(K5ctlWarmUp, FailingCommandIsAWarmUpErrorAndMutesTheK5) {
    ComPorts ports;
    sim::Simulator& amp = ports.Put(3, {.ignorePaths = {"Dsp.Test"}});
    const ChildOutcome r = ports.Run({"--port", "3", "warm-up"});
    EXPECT_EQ(r.exitStatus, 14);
    EXPECT_TRUE(
        r.out.ends_with("Warm up error.Please double check the connection to the PC and "
                        "the COM port selection then try again.\n"))
        << r.out;
    EXPECT_TRUE(SawCommand(amp, "\rMain.Volume=-20\r"));
    EXPECT_TRUE(SawCommand(amp, "\rMain.Mute=On\r"));
}

TEST(K5ctlWarmUp, InterruptCancelsAndMutes) {
    ComPorts ports;
    sim::Simulator& amp = ports.Put(3, {});
    std::vector<std::string> args = {K5CTL_PATH, "--port", "3", "warm-up", "--minutes", "5"};
    test::ChildProcess program(args, ports.Mapping());
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(program.WaitForOutput("05 : 00\n"));
    program.Signal(SIGINT);
    const ChildOutcome r = program.Finish();
    EXPECT_EQ(r.exitStatus, 130);
    EXPECT_TRUE(
        r.out.ends_with("Warm up cancelled.\nPress Next to start the calibration "
                        "manually or press Previous to try again.\n"))
        << r.out;
    EXPECT_TRUE(SawCommand(amp, "\rMain.Mute=On\r"));
}

}  // namespace
}  // namespace k5::cli
