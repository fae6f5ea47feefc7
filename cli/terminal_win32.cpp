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

TerminalSize TerminalSizeOf(std::FILE* stream) {
    TerminalSize size;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(handle, &info)) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
        size.columns = columns > 0 ? static_cast<std::size_t>(columns) : size.columns;
        size.rows = rows > 0 ? static_cast<std::size_t>(rows) : size.rows;
    }
    return size;
}

}  // namespace k5::cli
