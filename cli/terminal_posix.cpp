#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "cli/terminal.h"

namespace k5::cli {

bool IsLiveTerminal(std::FILE* stream) {
    const int fd = stream != nullptr ? ::fileno(stream) : -1;
    if (fd < 0 || ::isatty(fd) == 0) {
        return false;
    }
    const char* term = std::getenv("TERM");
    return term == nullptr || std::string_view(term) != "dumb";
}

TerminalSize TerminalSizeOf(std::FILE* stream) {
    TerminalSize size;
    struct winsize window {};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &window) == 0) {
        size.columns = window.ws_col > 0 ? window.ws_col : size.columns;
        size.rows = window.ws_row > 0 ? window.ws_row : size.rows;
    }
    return size;
}

}  // namespace k5::cli
