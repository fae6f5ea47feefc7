#pragma once

#include <cstddef>
#include <cstdio>

namespace k5::cli {

// Whether `stream` is a terminal that understands the cursor sequences of a live line: a
// terminal device (on Windows a console, switched to its VT mode) whose TERM is not "dumb".
// A pipe, a file or a CI log is none.
bool IsLiveTerminal(std::FILE* stream);
// The width of that terminal in columns; 80 when it cannot be told.
std::size_t TerminalColumns(std::FILE* stream);
// Its height in lines; 24 when it cannot be told.
std::size_t TerminalRows(std::FILE* stream);

}  // namespace k5::cli
