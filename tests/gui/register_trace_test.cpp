#include "tests/gui/register_trace.h"

#include <gtest/gtest.h>

#include <string>

namespace k5::gui::test {
namespace {

// Trace lines as k5sim writes them, heard by the amplifier.
constexpr auto kUnlock = "   522.426 ms  -> FF 08 01 02 FF FF 6B 2E 91 C4 F6\n";
constexpr auto kStmax = "   522.540 ms  -> FF 08 01 02 A1 08 D3 47 D5 F0 92\n";
constexpr auto kStpte = "   522.681 ms  -> FF 08 01 02 A1 0A 00 54 22 9B C6\n";
constexpr auto kStclip = "   522.818 ms  -> FF 08 01 02 A1 01 0C 00 00 00 B8\n";
constexpr auto kLock = "   533.515 ms  -> FF 08 01 02 FF FF 94 D1 6E 3B 16\n";
// The amplifier's echo of the lock, which it sends and does not hear.
constexpr auto kLockEcho = "   533.600 ms  <- FF 08 01 02 FF FF 94 D1 6E 3B 16\n";
constexpr auto kModel =
    "   321.997 ms  -> 0D 4D 61 69 6E 2E 4D 6F 64 65 6C 3F 0D  \"\\rMain.Model?\\r\"\n";

std::string Join(std::initializer_list<const char*> lines) {
    std::string trace;
    for (const char* line : lines) {
        trace += line;
    }
    return trace;
}

TEST(RegisterTrace, WrittenAndLockedInOrder) {
    struct Case {
        const char* what;
        std::string trace;
        bool expected;
    };
    const Case cases[] = {
        {"the whole sequence", Join({kModel, kUnlock, kStmax, kStpte, kStclip, kLock}), true},
        {"registers in another order", Join({kUnlock, kStclip, kStmax, kStpte, kLock}), true},
        {"no lock", Join({kUnlock, kStmax, kStpte, kStclip}), false},
        {"only the echo of the lock", Join({kUnlock, kStmax, kStpte, kStclip, kLockEcho}), false},
        {"STPTE missing", Join({kUnlock, kStmax, kStclip, kLock}), false},
        {"written before the unlock", Join({kStmax, kStpte, kStclip, kUnlock, kLock}), false},
        {"locked before the last write", Join({kUnlock, kStmax, kStpte, kLock, kStclip}), false},
        {"an empty trace", "", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RegistersWrittenAndLocked(c.trace), c.expected) << c.what;
    }
}

}  // namespace
}  // namespace k5::gui::test
