#include "worker/thread_io_cancel.h"

namespace k5 {

// Nothing to keep: reads and writes end at their own deadlines.
struct ThreadIoCancel::Native {};

ThreadIoCancel::ThreadIoCancel() = default;

ThreadIoCancel::~ThreadIoCancel() = default;

void ThreadIoCancel::Cancel() {}

}  // namespace k5
