// A stop that meets a worker held up in a read its driver never finishes: the runner breaks
// the read off once the grace has passed, and the stop returns.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>

#include "tests/worker/recording_observer.h"
#include "worker/worker_runner.h"

namespace k5 {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kMsgProgress = 0x502;
constexpr uint32_t kStarted = 16;

TEST(WorkerRunnerWin32, StopBreaksOffAReadThatNeverEnds) {
    // A pipe nobody writes into: a read from it waits until it is cancelled.
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));

    CancelEvent cancel;
    test::RecordingObserver sink;
    std::atomic<bool> readFailed{false};
    std::atomic<DWORD> readError{0};
    {
        WorkerRunner runner(cancel, sink);
        runner.Start([&](WorkerObserver& reporter) {
            reporter.OnWorkerEvent({kMsgProgress, kStarted, 0});
            char byte = 0;
            DWORD got = 0;
            // The worker ignores the cancel event: only the broken-off read ends it.
            if (!ReadFile(readEnd, &byte, 1, &got, nullptr)) {
                readError = GetLastError();
                readFailed = true;
            }
        });
        ASSERT_TRUE(sink.WaitForCode(kStarted, 5s));
        runner.Stop();
        EXPECT_FALSE(runner.Running());
    }
    EXPECT_TRUE(readFailed);
    EXPECT_EQ(readError, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    CloseHandle(writeEnd);
    CloseHandle(readEnd);
}

}  // namespace
}  // namespace k5
