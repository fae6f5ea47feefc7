#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace k5::torvik {

// Hands log text from the configuration worker to the window without waiting for the
// window's thread: the worker only appends under a short lock, the window takes everything
// pending when it is woken, or at once after it has joined the worker.
class LogRelay {
public:
    // True when nothing was pending before, i.e. the reader has to be woken for this text.
    bool Push(std::string_view text);
    std::string Take();

private:
    std::mutex mutex_;
    std::string pending_;
};

}  // namespace k5::torvik
