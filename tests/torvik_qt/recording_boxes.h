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
    qtkit::MessageAnswer ShowWithDetail(QWidget* parent, const qtkit::MessageRequest& request,
                                        const QString& informativeText) override;

    void AnswerNext(qtkit::MessageAnswer answer) { answers_.push_back(answer); }
    const std::vector<qtkit::MessageRequest>& Shown() const { return shown_; }
    // The informative text of each shown box, empty for a box without one.
    const std::vector<QString>& Details() const { return details_; }
    void Forget() {
        shown_.clear();
        details_.clear();
    }

private:
    std::deque<qtkit::MessageAnswer> answers_;
    std::vector<qtkit::MessageRequest> shown_;
    std::vector<QString> details_;
};

}  // namespace k5::torvik::test
