#pragma once

#include <string>
#include <vector>

namespace k5::cli {

// The program's arguments after its name, as UTF-8. On Windows they are read from the
// system's UTF-16 command line, so that a file name in any script survives; `argv`, in the
// ANSI code page, would lose what that code page cannot write. Elsewhere they are `argv`.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace k5::cli
