// What k5ctl says beside the wizard's page texts: the notes on standard error, the live line
// with the time left of a wait, and refusals that name their option or COM port.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/countdown_line.h"
#include "cli/k5ctl_options.h"
#include "cli/next_step_notes.h"
#include "sim/simulator.h"
#include "tests/cli/k5ctl_harness.h"
#include "tests/support/child_process.h"
#include "tests/support/pty_peer.h"
#include "tests/support/scoped_env.h"

namespace k5::cli {
namespace {

using namespace std::chrono_literals;
using k5::test::ChildOutcome;
using test::ComPorts;

// --- The notes beside the page texts ----------------------------------------------------------

struct NoteRun {
    const char* name;
    std::vector<std::string> args;
    std::string err;
};

class NotesOnStandardError : public testing::TestWithParam<NoteRun> {};

// Standard output keeps the page texts byte for byte (the wizard tests compare it); the notes
// go to standard error only, one after each text that speaks of a button or the ten minutes.
TEST_P(NotesOnStandardError, FollowThePageTexts) {
    ComPorts ports;
    ports.Put(3, {});
    const ChildOutcome r = ports.Run(GetParam().args);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, GetParam().err);
    EXPECT_EQ(r.out.find("k5ctl"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    K5ctlNotes, NotesOnStandardError,
    testing::Values(
        NoteRun{"detect",
                {"--port", "3", "detect"},
                "k5ctl: detect ends here; k5ctl calibrate starts the calibration (no Next button "
                "here)\n"},
        NoteRun{"warm_up",
                {"--port", "3", "warm-up", "--minutes", "0"},
                "k5ctl: the warm-up starts now (no Next button here)\n"
                "k5ctl: warm-up of 0 minutes; Ctrl-C stops it\n"
                "k5ctl: warm-up done; k5ctl calibrate starts the calibration (no Next button "
                "here)\n"},
        NoteRun{"calibrate_warm_up",
                {"--port", "3", "calibrate", "--warm-up", "--minutes", "0"},
                "k5ctl: the warm-up starts now, the calibration after it (no Next button here)\n"
                "k5ctl: warm-up of 0 minutes; Ctrl-C stops it\n"
                "k5ctl: the calibration starts now (no Next button here)\n"},
        NoteRun{"calibrate",
                {"--port", "3", "calibrate"},
                "k5ctl: the calibration starts now (no Next button here)\n"}),
    [](const testing::TestParamInfo<NoteRun>& testCase) { return testCase.param.name; });

TEST(K5ctlNotes, AStoppedWarmUpSaysHowToGoOn) {
    ComPorts ports;
    ports.Put(3, {});
    k5::test::ChildProcess program(ports.Command({"--port", "3", "warm-up", "--minutes", "1"}),
                                   ports.Mapping());
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(program.WaitForOutput("01 : 00\n"));
    program.Signal(SIGINT);
    const ChildOutcome r = program.Finish();
    EXPECT_EQ(r.exitStatus, 130);
    EXPECT_TRUE(
        r.err.ends_with("k5ctl: warm-up of 1 minute; Ctrl-C stops it\n"
                        "k5ctl: warm-up stopped; k5ctl calibrate calibrates without it, "
                        "k5ctl warm-up starts it again\n"))
        << r.err;
}

// --- The live line ----------------------------------------------------------------------------

TEST(K5ctlCountdownLine, TextRoundsUpToWholeSeconds) {
    struct Case {
        WaitKind kind;
        std::chrono::milliseconds left;
        const char* text;
    };
    const Case cases[] = {
        {WaitKind::SwitchingOn, 18000ms, "k5ctl: switching on, 18 s left"},
        {WaitKind::SwitchingOn, 11001ms, "k5ctl: switching on, 12 s left"},
        {WaitKind::SwitchingOn, 1ms, "k5ctl: switching on, 1 s left"},
        {WaitKind::SwitchingOn, -40ms, "k5ctl: switching on, 0 s left"},
        {WaitKind::WarmUp, 600000ms, "k5ctl: warm-up 10:00 left"},
        {WaitKind::WarmUp, 580001ms, "k5ctl: warm-up 9:41 left"},
        {WaitKind::WarmUp, 59001ms, "k5ctl: warm-up 1:00 left"},
        {WaitKind::WarmUp, 9000ms, "k5ctl: warm-up 0:09 left"},
        {WaitKind::WarmUp, 59940000ms, "k5ctl: warm-up 999:00 left"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CountdownText(c.kind, c.left), c.text) << c.left.count();
    }
}

// What a live line writes around a line of output, read back from the terminal's far end.
std::string DrawnAround(std::FILE* stream, k5::test::PtyPeer* pty) {
    {
        CountdownLine line(stream);
        line.PauseBegins(2000ms);  // not longer than two seconds: not shown
        line.PauseEnds();
        line.PauseBegins(18000ms);
        line.Above([stream] {
            std::fputs("x", stream);
            std::fflush(stream);
        });
        line.PauseEnds();
    }
    if (pty == nullptr) {
        return {};
    }
    const k5::test::Bytes bytes = pty->Receive(256, 300ms);
    return {bytes.begin(), bytes.end()};
}

TEST(K5ctlCountdownLine, DrawsOnALiveTerminalAndLeavesItAsItWas) {
    const std::string shown = " k5ctl: switching on, 18 s left";
    for (const char* term : {"xterm", "dumb"}) {
        const k5::test::ScopedEnv env("TERM", term);
        k5::test::PtyPeer pty;
        std::FILE* stream = ::fdopen(::dup(pty.TerminalFd()), "w");
        ASSERT_NE(stream, nullptr);
        const std::string bytes = DrawnAround(stream, &pty);
        std::fclose(stream);
        if (std::string_view(term) == "dumb") {
            EXPECT_EQ(bytes, "x");
            continue;
        }
        // Saved place, the line; back and erased for the output, the line again below it; back
        // and erased at the end.
        EXPECT_EQ(bytes, "\0337" + shown + "\0338\033[Jx\0337" + shown + "\0338\033[J");
    }

    // A file (or pipe) receives only the output.
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    DrawnAround(file, nullptr);
    std::rewind(file);
    char text[16] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text, file), 1u);
    EXPECT_STREQ(text, "x");
    std::fclose(file);
}

// --- Refusals that name what they concern -----------------------------------------------------

ParseResult Parse(const std::vector<std::string_view>& args) {
    return ParseArguments(args, ConfigSettings().TakeUserSettings());
}

// Every option that takes a value, given none and given an empty one, to a command it belongs
// to: one line that names it.
TEST(K5ctlRefusals, EachOptionsRefusalNamesIt) {
    for (const OptionRow& option : OptionTable()) {
        if (option.argument.empty()) {
            continue;
        }
        const CommandRow* command = nullptr;
        for (const CommandRow& row : CommandTable()) {
            if (option.commands.Contains(row.command) && command == nullptr) {
                command = &row;
            }
        }
        ASSERT_NE(command, nullptr) << option.name;
        for (const bool empty : {false, true}) {
            std::vector<std::string_view> args = {command->name};
            if (!command->argument.empty()) {
                args.push_back("on");
            }
            if (command->needsLine && option.section != HelpSection::Line) {
                args.insert(args.end(), {"--device", "/dev/y"});
            }
            args.push_back(option.name);
            if (empty) {
                args.push_back("");
            }
            const ParseResult r = Parse(args);
            ASSERT_FALSE(r.options) << option.name;
            EXPECT_EQ(r.exitStatus, kExitUsage);
            EXPECT_TRUE(r.error.starts_with("k5ctl: " + std::string(option.name) + " ") ||
                        r.error.starts_with("k5ctl: " + std::string(option.name) + ": "))
                << r.error;
            EXPECT_EQ(r.error.find('\n'), std::string::npos) << r.error;
        }
    }
}

TEST(K5ctlRefusals, SayWhatIsAcceptedOrWhereToLook) {
    struct Case {
        std::vector<std::string_view> args;
        const char* error;
    };
    const Case cases[] = {
        {{"--port", "1", "configure", "--conductance-max", "many"},
         "k5ctl: --conductance-max: enter a positive integer"},
        {{"--port", "1", "configure", "--bogus", "1"},
         "k5ctl: unknown option --bogus; see k5ctl --help"},
        {{"--port", "1", "frobnicate"}, "k5ctl: unknown command frobnicate; see k5ctl --help"},
        {{"--port", "1", "configure", "extra"},
         "k5ctl: unexpected argument extra; see k5ctl --help"},
        {{}, "k5ctl: no command given; k5ctl --help lists the commands"},
    };
    for (const Case& c : cases) {
        const ParseResult r = Parse(c.args);
        EXPECT_FALSE(r.options) << c.error;
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.exitStatus, kExitUsage);
    }
}

struct PortRun {
    const char* name;
    std::vector<std::string> args;
    test::Environment env;
    std::string err;
};

class PortErrorNextStep : public testing::TestWithParam<PortRun> {
protected:
    // An empty port table, so that nothing but the environment maps a COM number.
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "k5-next-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        config_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(config_); }
    std::filesystem::path config_;
};

// The "Port error: <reason>" line stays as it was; the next step follows on a line of its own.
TEST_P(PortErrorNextStep, FollowsThePortError) {
    test::Environment env = GetParam().env;
    env.emplace_back("XDG_CONFIG_HOME", config_.string());
    std::vector<std::string> argv = {K5CTL_PATH};
    argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
    const ChildOutcome r = k5::test::RunProgram(argv, env);
    EXPECT_EQ(r.exitStatus, 20);
    EXPECT_EQ(r.err, GetParam().err);
}

// COM200: a number no machine has a UART behind, so nothing is opened.
INSTANTIATE_TEST_SUITE_P(
    K5ctlRefusals, PortErrorNextStep,
    testing::Values(
        PortRun{"unmapped_configure",
                {"--port", "200", "configure"},
                {},
                "Port error: no device is mapped to this port\n"
                "k5ctl: COM200 has no device: set K5_COM200 or see k5ctl ports\n"},
        PortRun{"unmapped_detect",
                {"--port", "200", "detect"},
                {},
                "Port error: no device is mapped to this port\n"
                "k5ctl: COM200 has no device: set K5_COM200 or see k5ctl ports\n"},
        PortRun{"mapped_to_nothing",
                {"--port", "7", "link-test"},
                {{"K5_COM7", "/nonexistent/k5"}},
                "Port error: /nonexistent/k5: no such device\n"
                "k5ctl: K5_COM7 names a path that is not there: correct it or see k5ctl ports\n"},
        PortRun{"missing_device",
                {"--device", "/nonexistent/tty", "calibrate"},
                {},
                "Port error: /nonexistent/tty: no such device\n"
                "k5ctl: --device /nonexistent/tty is no serial device; k5ctl ports lists them\n"}),
    [](const testing::TestParamInfo<PortRun>& testCase) { return testCase.param.name; });

}  // namespace
}  // namespace k5::cli
