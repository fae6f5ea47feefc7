#pragma once

#include <cstdint>
#include <string>

namespace k5::veldra {

// The detection page's state: its one text. The Qt page shows Text(); k5ctl prints it.
class DetectPageModel {
public:
    // The page is entered: a fresh text.
    void Show();
    // A detection result forwarded by the frame; a code above 4 leaves the text alone.
    void Apply(uint32_t code, int32_t port);

    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

}  // namespace k5::veldra
