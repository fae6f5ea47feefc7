#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>

namespace k5::cli {

// One stop for every unit of a run: Ctrl-C, SIGTERM and SIGHUP (see InterruptWatch) call
// Stop, which calls what each unit registered, as the Stop button would on each of them.
class StopHub {
public:
    // While the returned subscription lives, every Stop calls `onStop`, and at once when a stop
    // came before. Once the subscription is gone, `onStop` is not running and is not called.
    class Subscription {
    public:
        Subscription(StopHub& hub, std::function<void()> onStop);
        ~Subscription();
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;

    private:
        StopHub& hub_;
        size_t id_;
    };

    void Stop();

private:
    std::mutex mutex_;
    std::map<size_t, std::function<void()>> subscribers_;
    size_t nextId_ = 0;
    bool stopped_ = false;
};

}  // namespace k5::cli
