#pragma once

#include <deque>
#include <vector>

#include "torvik/message_boxes.h"

namespace k5::torvik::test {

// Records every box a window would show and answers it: questions from a queue of answers
// (No when it is empty), other boxes with OK.
class RecordingBoxes : public MessageBoxes {
public:
    MessageAnswer Show(QWidget* parent, const MessageRequest& request) override;

    void AnswerNext(MessageAnswer answer) { answers_.push_back(answer); }
    const std::vector<MessageRequest>& Shown() const { return shown_; }
    void Forget() { shown_.clear(); }

private:
    std::deque<MessageAnswer> answers_;
    std::vector<MessageRequest> shown_;
};

}  // namespace k5::torvik::test
