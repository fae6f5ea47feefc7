#include "tests/support/child_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace k5::test {

namespace {

// False at end of file. The program is expected to finish; ctest's time-out guards the rest.
bool ReadSome(int fd, std::string& into) {
    char buffer[4096];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) {
        return false;
    }
    into.append(buffer, static_cast<size_t>(got));
    return true;
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv,
                           const std::vector<std::pair<std::string, std::string>>& environment) {
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        envStrings.emplace_back(*e);
    }
    for (const auto& [name, value] : environment) {
        envStrings.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (std::string& entry : envStrings) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    int outPipe[2];
    int errPipe[2];
    if (pipe(outPipe) != 0) {
        return;
    }
    if (pipe(errPipe) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
    std::vector<char*> args;
    for (std::string& arg : argv) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    out_ = outPipe[0];
    err_ = errPipe[0];
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) {
        close(out_);
    }
    if (err_ >= 0) {
        close(err_);
    }
}

bool ChildProcess::WaitForOutput(std::string_view text) {
    while (outcome_.out.find(text) == std::string::npos) {
        if (!ReadSome(out_, outcome_.out)) {
            return false;
        }
    }
    return true;
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0) {
        kill(pid_, signal);
    }
}

ChildOutcome ChildProcess::Finish() {
    while (ReadSome(out_, outcome_.out)) {
    }
    while (ReadSome(err_, outcome_.err)) {
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    outcome_.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    return outcome_;
}

ChildOutcome RunProgram(std::vector<std::string> argv,
                        const std::vector<std::pair<std::string, std::string>>& environment) {
    ChildProcess program(std::move(argv), environment);
    if (!program.Started()) {
        return {};
    }
    return program.Finish();
}

}  // namespace k5::test
