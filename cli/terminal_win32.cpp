#include <io.h>
#include <windows.h>

#include <cstdlib>
#include <string_view>

#include "cli/terminal.h"

namespace k5::cli {

bool IsLiveTerminal(std::FILE* stream) {
    const int fd = stream != nullptr ? _fileno(stream) : -1;
    if (fd < 0 || _isatty(fd) == 0) {
        return false;
    }
    const char* term = std::getenv("TERM");
    if (term != nullptr && std::string_view(term) == "dumb") {
        return false;
    }
    // A console draws the cursor sequences only in its VT mode; one that refuses it (before
    // Windows 10) gets no live line.
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
        return false;
    }
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::size_t TerminalColumns(std::FILE* stream) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(handle, &info)) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0) {
            return static_cast<std::size_t>(columns);
        }
    }
    return 80;
}

std::size_t TerminalRows(std::FILE* stream) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(handle, &info)) {
        const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
        if (rows > 0) {
            return static_cast<std::size_t>(rows);
        }
    }
    return 24;
}

}  // namespace k5::cli
