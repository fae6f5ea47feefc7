#include "torvik/run_reporter.h"

namespace k5::torvik {

void RunReporter::AppendLog(std::string_view text) {
    // Only the first text after a drain wakes the window; it takes everything pending.
    if (relay_.Push(text)) {
        reporter_.OnWorkerEvent({kMsgLogPending, 0, 0});
    }
}

void RunReporter::Complete(int resultCode) {
    reporter_.OnWorkerEvent({kMsgConfigurationDone, 0, resultCode});
}

}  // namespace k5::torvik
