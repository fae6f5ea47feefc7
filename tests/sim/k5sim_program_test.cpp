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
#include <string>
#include <vector>

#include "devlink/commands.h"
#include "pty_client.h"
#include "tests/support/case_name.h"

extern char** environ;

namespace k5::sim {
namespace {

using std::chrono::milliseconds;
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

class BadUsage : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(BadUsage, ExitsWithTwo) {
    Running sim = Spawn(GetParam());
    ASSERT_GT(sim.pid, 0);
    EXPECT_EQ(WaitExit(sim.pid, milliseconds(5000)), 2) << GetParam()[0];
    ::close(sim.out);
}

INSTANTIATE_TEST_SUITE_P(K5simProgram, BadUsage,
                         testing::Values(std::vector<std::string>{"--no-such-option"},
                                         std::vector<std::string>{"--left"},
                                         std::vector<std::string>{"--left", "4096"},
                                         std::vector<std::string>{"--slow", "soon"}),
                         [](const testing::TestParamInfo<std::vector<std::string>>& testCase) {
                             std::string args;
                             for (const std::string& arg : testCase.param) {
                                 args += arg + " ";
                             }
                             return k5::test::CaseName(args);
                         });

}  // namespace
}  // namespace k5::sim
