#include <windows.h>

#include "worker/thread_io_cancel.h"

namespace k5 {

struct ThreadIoCancel::Native {
    // A real handle of the thread: GetCurrentThread() names whichever thread asks.
    HANDLE thread = nullptr;
};

ThreadIoCancel::ThreadIoCancel() : native_(std::make_unique<Native>()) {
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                         &native_->thread, THREAD_TERMINATE, FALSE, 0)) {
        native_->thread = nullptr;
    }
}

ThreadIoCancel::~ThreadIoCancel() {
    if (native_->thread != nullptr) {
        CloseHandle(native_->thread);
    }
}

void ThreadIoCancel::Cancel() {
    // Fails with ERROR_NOT_FOUND when the thread is between calls: nothing to break off.
    if (native_->thread != nullptr) {
        (void)CancelSynchronousIo(native_->thread);
    }
}

}  // namespace k5
