#pragma once

#include <deque>
#include <functional>
#include <vector>

#include "qtkit/message_boxes.h"

namespace k5::veldra::test {

// Records every question the wizard asks and answers it from a queue: Cancel when the queue
// is empty, so an unplanned question changes nothing. `whileAsking` runs as the box would be
// open, for answers that must meet a changed state.
class AnsweringBoxes : public qtkit::MessageBoxes {
public:
    qtkit::MessageAnswer Show(QWidget* parent, const qtkit::MessageRequest& request) override;

    void AnswerNext(qtkit::MessageAnswer answer) { answers_.push_back(answer); }
    void WhileAsking(std::function<void()> action) { whileAsking_ = std::move(action); }
    const std::vector<qtkit::MessageRequest>& Shown() const { return shown_; }

private:
    std::deque<qtkit::MessageAnswer> answers_;
    std::vector<qtkit::MessageRequest> shown_;
    std::function<void()> whileAsking_;
};

}  // namespace k5::veldra::test
