#pragma once

#include <string_view>

namespace k5::torvik {

// How a configuration run reports. The run calls it on its own worker thread; the window
// forwards each call to its user-interface thread without waiting, the headless runner
// writes to standard output.
class ConfigurationObserver {
public:
    virtual ~ConfigurationObserver() = default;

    // A text for the end of the log, with its own "\n" line breaks.
    virtual void AppendLog(std::string_view text) = 0;
    // The run's last act when it ends on its own; a cancelled run may end without it.
    virtual void Complete(int resultCode) = 0;
};

}  // namespace k5::torvik
