// Every program of the kit answers --version with its name and the kit's version, without a
// display and without touching a serial line.

#include "k5/version.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace k5 {
namespace {

struct Program {
    const char* name;
    const char* path;
};

std::vector<Program> Programs() {
    std::vector<Program> programs = {{"k5sim", K5SIM_PATH}};
#if defined(TORVIK_PATH) && defined(VELDRA_PATH)
    programs.push_back({"torvik", TORVIK_PATH});
    programs.push_back({"veldra", VELDRA_PATH});
#endif
    return programs;
}

TEST(ProgramVersion, EveryProgramPrintsItsNameAndTheKitsVersion) {
    // A display that does not exist: a Qt program that tried to open its window would fail.
    const std::vector<std::pair<std::string, std::string>> noDisplay = {
        {"DISPLAY", ":97"}, {"WAYLAND_DISPLAY", "none-here"}, {"QT_QPA_PLATFORM", "xcb"}};
    for (const Program& program : Programs()) {
        for (const std::vector<std::string>& extra :
             {std::vector<std::string>{"--version"},
              // --version wins wherever it stands, as --help does.
              std::vector<std::string>{"--left", "700", "--version"}}) {
            if (extra.size() > 1 && std::string(program.name) != "k5sim") {
                continue;
            }
            std::vector<std::string> argv = {program.path};
            argv.insert(argv.end(), extra.begin(), extra.end());
            const test::ChildOutcome outcome = test::RunProgram(argv, noDisplay);
            EXPECT_EQ(outcome.exitStatus, 0) << program.name << "\n" << outcome.err;
            EXPECT_EQ(outcome.out, std::string(program.name) + " " + kKitVersion + "\n")
                << program.name;
            EXPECT_EQ(outcome.err, "") << program.name;
        }
    }
}

}  // namespace
}  // namespace k5
