// The k5sim program as a user runs it: started, talked to through its link, stopped by a
// signal.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "devlink/commands.h"
#include "devlink/frames.h"
#include "devlink/registers.h"
#include "pty_client.h"
#include "serialport/port_table.h"
#include "sim/simulator.h"
#include "tests/support/case_name.h"

extern char** environ;

namespace k5::sim {
namespace {

using std::chrono::milliseconds;
using test::Bytes;
using test::PtyClient;
using test::ToBytes;

struct Running {
    pid_t pid = -1;
    int out = -1;  // the program's stdout
};

Running Spawn(std::vector<std::string> args) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    args.insert(args.begin(), K5SIM_PATH);
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    Running r;
    if (::posix_spawn(&r.pid, K5SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) {
        r.pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    r.out = pipeFds[0];
    return r;
}

// Reads the program's output up to its first newline, or until it ends or time runs out.
std::string ReadLine(int fd, milliseconds timeout) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) {
            continue;
        }
        char c;
        if (::read(fd, &c, 1) != 1) {
            break;
        }
        if (c == '\n') {
            break;
        }
        line.push_back(c);
    }
    return line;
}

// Waits for the program to end; -1 if it did not within the timeout (it is then killed).
int WaitExit(pid_t pid, milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        ::poll(nullptr, 0, 10);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

TEST(K5simProgram, ServesThroughItsLinkAndStopsCleanlyOnSigterm) {
    char dir[] = "/tmp/k5sim_prog_XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::filesystem::path link = std::filesystem::path(dir) / "ttyK5";

    Running sim = Spawn({"--link", link.string(), "--standby", "--model", "K5"});
    ASSERT_GT(sim.pid, 0);
    const std::string path = ReadLine(sim.out, milliseconds(5000));
    EXPECT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), path);
    {
        PtyClient client(link.string());
        ASSERT_TRUE(client.Send(cmd::kPowerQuery));
        EXPECT_EQ(client.Receive(cmd::kPowerOff.size(), milliseconds(2000)),
                  ToBytes(cmd::kPowerOff));
    }
    ::kill(sim.pid, SIGTERM);
    EXPECT_EQ(WaitExit(sim.pid, milliseconds(5000)), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    ::close(sim.out);
    std::filesystem::remove_all(dir);
}

// Puts the amplifier in its test state and reads the left conductance; -1 on a bad reply.
int64_t ReadLeftConductance(const std::string& path) {
    PtyClient client(path);
    for (auto command : {cmd::kSourceCoax1, cmd::kTestTone1k, cmd::kVolumeMinus8}) {
        EXPECT_TRUE(client.Send(command));
        EXPECT_EQ(client.Receive(command.size(), milliseconds(2000)), ToBytes(command));
    }
    const auto request = BuildReadRequest(kRegLeftHighCont);
    EXPECT_TRUE(client.Send(Bytes(request.begin(), request.end())));
    const Bytes reply = client.Receive(kRegisterReplySize, milliseconds(2000));
    uint32_t value = 0;
    if (ValidateRegisterReply(reply, kOpRead, kRegLeftHighCont, value) != ReplyCheck::Ok) {
        return -1;
    }
    return value & kConductanceMask;
}

TEST(K5simProgram, ServesALineOfUnitsMappedToComNumbersUntilSigterm) {
    char dir[] = "/tmp/k5sim_units_XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::filesystem::path root(dir);
    const std::filesystem::path links = root / "links";
    std::filesystem::create_directory(links);
    const std::filesystem::path table = root / "k5kit" / kPortTableFileName;

    Running sim =
        Spawn({"--units", "3", "--seed", "7", "--jitter", "100", "--first-com", "3", "--link-dir",
               links.string(), "--port-table", root.string(), "--power-answer", "Dim"});
    ASSERT_GT(sim.pid, 0);
    std::vector<std::string> paths;
    for (int unit = 0; unit < 3; ++unit) {
        paths.push_back(ReadLine(sim.out, milliseconds(5000)));
        EXPECT_EQ(paths.back().rfind("/dev/pts/", 0), 0u) << paths.back();
    }
    std::ifstream tableFile(table);
    std::stringstream tableText;
    tableText << tableFile.rdbuf();
    const PortTable parsed = ParsePortTable(tableText.str());
    EXPECT_TRUE(parsed.usable) << parsed.problem;

    std::set<int64_t> readings;
    for (unsigned unit = 0; unit < 3; ++unit) {
        const std::string com = "COM" + std::to_string(3 + unit);
        EXPECT_EQ(std::filesystem::read_symlink(links / com).string(), paths[unit]) << com;
        EXPECT_EQ(parsed.entries.count(3 + unit) == 1 ? parsed.entries.at(3 + unit) : "",
                  paths[unit])
            << com;
        // Unit n answers as one simulator seeded seed+n-1 would, and the fault is on every unit.
        auto expected = Simulator::Start({.jitter = 100, .seed = 7 + unit});
        ASSERT_TRUE(expected);
        const int64_t reading = ReadLeftConductance((links / com).string());
        EXPECT_EQ(reading, ReadLeftConductance(expected->DevicePath())) << com;
        readings.insert(reading);
        PtyClient client(paths[unit]);
        ASSERT_TRUE(client.Send(cmd::kPowerQuery));
        const std::string dim = "\rMain.Power=Dim\r";
        EXPECT_EQ(client.Receive(dim.size(), milliseconds(2000)), ToBytes(dim)) << com;
    }
    EXPECT_EQ(readings.size(), 3u);

    ::kill(sim.pid, SIGTERM);
    EXPECT_EQ(WaitExit(sim.pid, milliseconds(5000)), 0);
    EXPECT_TRUE(std::filesystem::is_empty(links));
    EXPECT_FALSE(std::filesystem::exists(root / "k5kit"));
    ::close(sim.out);
    std::filesystem::remove_all(root);
}

TEST(K5simProgram, NeverReplacesAnExistingPortTable) {
    char dir[] = "/tmp/k5sim_units_XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::filesystem::path root(dir);
    std::filesystem::create_directory(root / "k5kit");
    const std::filesystem::path table = root / "k5kit" / kPortTableFileName;
    std::ofstream(table) << "COM1 = /dev/ttyUSB0\n";

    Running sim = Spawn({"--units", "2", "--port-table", root.string()});
    ASSERT_GT(sim.pid, 0);
    EXPECT_EQ(WaitExit(sim.pid, milliseconds(5000)), 1);
    std::ifstream tableFile(table);
    std::stringstream tableText;
    tableText << tableFile.rdbuf();
    EXPECT_EQ(tableText.str(), "COM1 = /dev/ttyUSB0\n");
    ::close(sim.out);
    std::filesystem::remove_all(root);
}

class BadUsage : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(BadUsage, ExitsWithTwo) {
    Running sim = Spawn(GetParam());
    ASSERT_GT(sim.pid, 0);
    EXPECT_EQ(WaitExit(sim.pid, milliseconds(5000)), 2) << GetParam()[0];
    ::close(sim.out);
}

INSTANTIATE_TEST_SUITE_P(
    K5simProgram, BadUsage,
    testing::Values(std::vector<std::string>{"--no-such-option"},
                    std::vector<std::string>{"--left"}, std::vector<std::string>{"--left", "4096"},
                    std::vector<std::string>{"--slow", "soon"},
                    std::vector<std::string>{"--units", "65"},
                    std::vector<std::string>{"--units", "2", "--link", "/tmp/k5"}),
    [](const testing::TestParamInfo<std::vector<std::string>>& testCase) {
        std::string args;
        for (const std::string& arg : testCase.param) {
            args += arg + " ";
        }
        return k5::test::CaseName(args);
    });

}  // namespace
}  // namespace k5::sim
