// Exits 0 when the k5sim trace in the file named by its argument shows the protection
// registers unlocked, written and locked; 1 with a line on standard error otherwise.
#include <fstream>
#include <iostream>
#include <sstream>

#include "tests/gui/register_trace.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::cerr << "usage: register_trace_check TRACE\n";
        return 2;
    }
    std::ifstream file(argv[1]);
    if (!file) {
        std::cerr << "register_trace_check: cannot read " << argv[1] << "\n";
        return 2;
    }
    std::ostringstream trace;
    trace << file.rdbuf();
    if (!k5::gui::RegistersWrittenAndLocked(trace.str())) {
        std::cerr << argv[1] << " shows no registers unlocked, written and locked\n";
        return 1;
    }
    return 0;
}
