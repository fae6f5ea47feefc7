#pragma once

#include <deque>
#include <vector>

#include "qtkit/message_boxes.h"

namespace k5::torvik::test {

// Records every box a window would show and answers it: questions from a queue of answers
// (No when it is empty), other boxes with OK.
class RecordingBoxes : public qtkit::MessageBoxes {
public:
    qtkit::MessageAnswer Show(QWidget* parent, const qtkit::MessageRequest& request) override;

    void AnswerNext(qtkit::MessageAnswer answer) { answers_.push_back(answer); }
    const std::vector<qtkit::MessageRequest>& Shown() const { return shown_; }
    void Forget() { shown_.clear(); }

private:
    std::deque<qtkit::MessageAnswer> answers_;
    std::vector<qtkit::MessageRequest> shown_;
};

}  // namespace k5::torvik::test
