// The wizard's procedures run headless by the built k5ctl against simulators mapped to COM
// ports, as a production-line script would run them.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "devlink/registers.h"
#include "sim/simulator.h"
#include "tests/cli/k5ctl_harness.h"
#include "tests/support/child_process.h"

namespace k5::cli {
namespace {

using k5::test::ChildOutcome;
using test::ComPorts;
using test::KeyWrites;
using test::SawCommand;
using test::TextCommands;

constexpr const char* kLooking = "Looking for K5...\n\n";
constexpr const char* kCheckConnection =
    "Please double check the connection to the PC and the COM port selection then try again.\n";
constexpr const char* kFoundReminder =
    "Before starting the calibration, please make sure again that all the preparations below "
    "have been done:\na) All inputs are disconnected.\nb) The left and right outputs are "
    "connected with 4ohms load.\n\nThen please press Next to start the calibration.\n";

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
    EXPECT_EQ(r.exitStatus, 34);
    EXPECT_EQ(r.out, std::string(kLooking) + "Can not find K5.\n\n" + kCheckConnection);

    r = none.Run({"--port", "4", "detect"});
    EXPECT_EQ(r.exitStatus, 20);
    EXPECT_EQ(r.out, std::string(kLooking) + "Can not open COM4.\n\n" + kCheckConnection);
    EXPECT_TRUE(r.err.starts_with("Port error: /nonexistent/k5-com4")) << r.err;

    ComPorts silent;
    silent.Put(6, {.silent = true});
    r = silent.Run({"--port", "6", "detect"});
    EXPECT_EQ(r.exitStatus, 31);
    EXPECT_EQ(r.out, std::string(kLooking) + "Can not find K5 on COM6.\n\n" + kCheckConnection);

    // Said to be warmed up, a K5 in standby stops the search at its port.
    ComPorts standby;
    standby.Put(2, {.standby = true});
    standby.Put(3, {});
    r = standby.Run({"detect", "--warmed-up"});
    EXPECT_EQ(r.exitStatus, 32);
    EXPECT_EQ(r.out, std::string(kLooking) +
                         "Find K5 on COM2.\n\nBut the K5 has not been powered on.Please power on "
                         "K5 manually and then try again.\n");
    EXPECT_EQ(standby.Run({"detect"}).exitStatus, 0) << "not asked for power, COM2 will do";
}

TEST(K5ctlDetect, DeviceIsAChosenPortNamedByItsPath) {
    ComPorts ports;
    sim::Simulator& amp = ports.Put(3, {});
    // Named by its path, the K5 is probed without a search: the silent K5 on COM1 is not.
    sim::Simulator& silent = ports.Put(1, {.silent = true});
    const ChildOutcome r = ports.Run({"--device", amp.DevicePath(), "detect"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out,
              std::string(kLooking) + "Found K5 on " + amp.DevicePath() + ".\n\n" + kFoundReminder);
    EXPECT_TRUE(silent.Requests().empty());

    for (const char* command : {"detect", "warm-up", "calibrate"}) {
        const ChildOutcome missing = ports.Run({"--device", "/nonexistent/tty", command});
        EXPECT_EQ(missing.exitStatus, 20) << command;
        EXPECT_TRUE(missing.out.ends_with("Can not open /nonexistent/tty.\n\n" +
                                          std::string(kCheckConnection)))
            << missing.out;
        EXPECT_TRUE(missing.err.starts_with("Port error: /nonexistent/tty")) << missing.err;
    }
    EXPECT_EQ(ports.Run({"--port", "3", "calibrate", "--minutes", "1"}).exitStatus, 64);
    EXPECT_EQ(ports.Run({"--port", "3", "warm-up", "--minutes", "-1"}).exitStatus, 64);
    EXPECT_EQ(ports.Run({"--port", "3", "detect", "--warm-up"}).exitStatus, 64);
    EXPECT_EQ(ports.Run({"--port", "0", "link-test"}).exitStatus, 64);
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
    EXPECT_EQ(r.exitStatus, 32) << "a K5 in standby is not calibrated: detection says so";
}

TEST(K5ctlWarmUp, FinishedCountdownMutesTheK5) {
    ComPorts ports;
    sim::Simulator& amp = ports.Put(3, {});
    const ChildOutcome r = ports.Run({"--port", "3", "warm-up", "--minutes", "0"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(r.out.ends_with(
        "Initializing Warming up\nInitializing Warming up OK\n\nWarming up will run for 10 "
        "minutes.During the Warming up, please do not press any buttons on K5,keep RS232 "
        "connection.If you want to quit the process,please press Exit.\n00 : 00\n"
        "Warm up accomplish.Please press Next to start calibration.\n"
        "The K5 is muted (volume -20 dB, mute on).\n"))
        << r.out;
    // The test tone is turned down and muted last, once the worker has stopped.
    const std::vector<std::string> commands = TextCommands(amp);
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[commands.size() - 2], "\rMain.Volume=-20\r");
    EXPECT_EQ(commands.back(), "\rMain.Mute=On\r");
    EXPECT_TRUE(amp.State().mute);
    EXPECT_EQ(amp.State().volume, -20);
}

TEST(K5ctlCalibrate, WarmUpFirstChainsIntoTheCalibrationLikeTheWizard) {
    ComPorts ports;
    // A cold K5 in standby: detection does not ask for power, the warm-up switches it on.
    sim::Simulator& amp = ports.Put(3, {.left = 700, .right = 720, .standby = true});
    const ChildOutcome r = ports.Run({"--port", "3", "calibrate", "--warm-up", "--minutes", "0"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const size_t accomplished = r.out.find(
        "00 : 00\nWarm up accomplish.Please press Next to start calibration.\n"
        "Starting the calibration!\n\n1) Initializing the K5...");
    EXPECT_NE(accomplished, std::string::npos) << r.out;
    EXPECT_TRUE(r.out.ends_with("\nProgress: 100%\n")) << r.out;
    EXPECT_TRUE(SawCommand(amp, "\rMain.Power=On\r"));
    EXPECT_FALSE(SawCommand(amp, "\rMain.Mute=On\r")) << "the wizard does not mute between them";
    EXPECT_EQ(amp.State().stmax, 0xD337D58Cu);
    EXPECT_EQ(KeyWrites(amp), (std::vector<uint32_t>{kKeyWriteUnlock, kKeyWriteLock}));
    EXPECT_EQ(amp.State().power, sim::Power::Standby);
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
    k5::test::ChildProcess program(args, ports.Mapping());
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
