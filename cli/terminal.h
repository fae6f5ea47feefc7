#pragma once

#include <cstddef>
#include <cstdio>

namespace k5::cli {

// Whether `stream` is a terminal that understands the cursor sequences of a live line: a
// terminal device (on Windows a console, switched to its VT mode) whose TERM is not "dumb".
// A pipe, a file or a CI log is none.
bool IsLiveTerminal(std::FILE* stream);
struct TerminalSize {
    std::size_t columns = 80;
    std::size_t rows = 24;
};
// The size of that terminal; 80 columns and 24 lines where it cannot be told.
TerminalSize TerminalSizeOf(std::FILE* stream);

}  // namespace k5::cli
