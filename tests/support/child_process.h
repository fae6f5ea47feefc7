#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace k5::test {

// How a child program ended and what it printed.
struct ChildOutcome {
    int exitStatus = -1;  // 1000 + the signal when a signal ended it
    std::string out;
    std::string err;
};

// A program started with its standard output and error on pipes, as a production script
// would run it. `environment` entries ("NAME=value") are added to the test's own.
class ChildProcess {
public:
    ChildProcess(std::vector<std::string> argv,
                 const std::vector<std::pair<std::string, std::string>>& environment = {});
    ~ChildProcess();  // kills a child that is still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    // Reads standard output until it holds `text`; false if the program closed it first.
    bool WaitForOutput(std::string_view text);
    void Signal(int signal);
    // Reads everything that is left and waits for the program to end.
    ChildOutcome Finish();

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    ChildOutcome outcome_;
};

// Runs a program to its end.
ChildOutcome RunProgram(std::vector<std::string> argv,
                        const std::vector<std::pair<std::string, std::string>>& environment = {});

}  // namespace k5::test
