// The order of a stop and the calibration's final report decides k5ctl's exit status.
#include "cli/wizard_event_queue.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "veldra/event_codes.h"

namespace k5::cli {
namespace {

using veldra::WorkerEvent;

TEST(WizardEventQueue, OnlyAStopBeforeTheFinalReportCounts) {
    const WorkerEvent found{veldra::kMsgDetectDone, veldra::kDetectNoK5};  // 1, as "failed"
    const WorkerEvent step{veldra::kMsgCalibProgress, veldra::kCalibConfiguring};
    const WorkerEvent complete{veldra::kMsgCalibProgress, veldra::kCalibComplete};
    const std::optional<WorkerEvent> stop;
    struct Case {
        const char* what;
        std::vector<std::optional<WorkerEvent>> order;
        bool stopped;
    };
    const Case cases[] = {
        {"stop during the calibration", {step, stop, complete}, true},
        {"stop after the final report", {step, complete, stop}, false},
        {"detection's code 1 is not a final report", {found, stop, step, complete}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WizardEventQueue queue;
        for (const std::optional<WorkerEvent>& event : c.order) {
            if (event) {
                queue.OnWorkerEvent(*event);
            } else {
                queue.Interrupt();
            }
        }
        EXPECT_EQ(queue.StoppedBeforeCalibrationEnded(), c.stopped);
    }
}

}  // namespace
}  // namespace k5::cli
