#include "serialport/notices.h"

#include <cstdio>
#include <mutex>
#include <set>
#include <utility>

namespace k5 {

namespace {

struct Notices {
    std::mutex mutex;
    NoticeSink sink;
    std::set<std::string> reported;
};

Notices& TheNotices() {
    static Notices notices;
    return notices;
}

}  // namespace

void SetNoticeSink(NoticeSink sink) {
    Notices& notices = TheNotices();
    std::lock_guard lock(notices.mutex);
    notices.sink = std::move(sink);
}

void SendNoticesToStandardError() {
    SetNoticeSink([](const std::string& notice) { std::fprintf(stderr, "%s\n", notice.c_str()); });
}

void NoticeOnce(const std::string& key, const std::string& notice) {
    Notices& notices = TheNotices();
    std::lock_guard lock(notices.mutex);
    if (notices.reported.insert(key).second && notices.sink) {
        notices.sink(notice);
    }
}

}  // namespace k5
