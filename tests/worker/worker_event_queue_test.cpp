// The order of a stop and the run's final report decides whether the run counts as stopped.
#include "worker/worker_event_queue.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace k5 {
namespace {

constexpr uint32_t kMsgDetectDone = 0x500;
constexpr uint32_t kMsgProgress = 0x502;
constexpr uint32_t kFinalCode = 1;

bool IsFinalProgress(const WorkerEvent& event) {
    return event.message == kMsgProgress && event.code == kFinalCode;
}

TEST(WorkerEventQueue, OnlyAStopBeforeTheFinalReportCounts) {
    const WorkerEvent found{kMsgDetectDone, kFinalCode};  // the same code in another message
    const WorkerEvent step{kMsgProgress, 7};
    const WorkerEvent complete{kMsgProgress, kFinalCode};
    const std::optional<WorkerEvent> stop;
    struct Case {
        const char* what;
        std::vector<std::optional<WorkerEvent>> order;
        bool stopped;
    };
    const Case cases[] = {
        {"stop during the run", {step, stop, complete}, true},
        {"stop after the final report", {step, complete, stop}, false},
        {"another message's code is not a final report", {found, stop, step, complete}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WorkerEventQueue queue(IsFinalProgress);
        for (const std::optional<WorkerEvent>& event : c.order) {
            if (event) {
                queue.OnWorkerEvent(*event);
            } else {
                queue.Interrupt();
            }
        }
        EXPECT_EQ(queue.StoppedBeforeFinalReport(), c.stopped);
    }
}

}  // namespace
}  // namespace k5
