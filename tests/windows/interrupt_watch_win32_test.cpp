#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <future>

#include "cli/interrupt_watch.h"

namespace k5::cli {
namespace {

using namespace std::chrono_literals;

TEST(InterruptWatchWin32, CtrlCReachesTheCallbackAndNoLongerEndsTheProcess) {
    std::promise<void> interrupted;
    auto seen = interrupted.get_future();
    {
        InterruptWatch watch([&] { interrupted.set_value(); });
        // A console of its own, so that the Ctrl-C reaches this process and not the test
        // runner; Wine gives a program started without a terminal none.
        FreeConsole();
        if (!AllocConsole()) {
            GTEST_SKIP() << "no console of its own to send Ctrl-C on (error " << GetLastError()
                         << ")";
        }
        SetConsoleCtrlHandler(nullptr, FALSE);  // Ctrl-C on, whatever the parent set
        ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
        ASSERT_EQ(seen.wait_for(10s), std::future_status::ready);
    }
    // With the watch gone, Ctrl-C stays held back: the process is still here to say so.
    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    Sleep(200);
    FreeConsole();  // the console's host would otherwise hold the runner's pipes a while
}

}  // namespace
}  // namespace k5::cli
