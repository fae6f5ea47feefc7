#pragma once

#include <functional>
#include <utility>

#include "recording_boxes.h"

namespace k5::torvik::test {

// Records boxes as RecordingBoxes does, and runs an action once as the next box would be open:
// a modal box keeps events flowing, so a key pressed meanwhile reaches the window.
class NestingBoxes : public RecordingBoxes {
public:
    void WhileShowing(std::function<void()> action) { whileShowing_ = std::move(action); }

    qtkit::MessageAnswer Show(QWidget* parent, const qtkit::MessageRequest& request) override {
        if (whileShowing_) {
            std::exchange(whileShowing_, nullptr)();
        }
        return RecordingBoxes::Show(parent, request);
    }

private:
    std::function<void()> whileShowing_;
};

}  // namespace k5::torvik::test
