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

std::size_t TerminalColumns(std::FILE* stream) {
    struct winsize size {};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

std::size_t TerminalRows(std::FILE* stream) {
    struct winsize size {};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_row > 0) {
        return size.ws_row;
    }
    return 24;
}

}  // namespace k5::cli
