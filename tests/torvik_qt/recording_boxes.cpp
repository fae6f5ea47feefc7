#include "recording_boxes.h"

#include <utility>

namespace k5::torvik::test {

qtkit::MessageAnswer RecordingBoxes::Show(QWidget* /*parent*/,
                                          const qtkit::MessageRequest& request) {
    shown_.push_back(request);
    if (whileShowing_) {
        std::exchange(whileShowing_, nullptr)();
    }
    if (request.buttons == qtkit::MessageButtons::Ok) {
        return qtkit::MessageAnswer::Ok;
    }
    if (answers_.empty()) {
        return qtkit::MessageAnswer::No;
    }
    const qtkit::MessageAnswer answer = answers_.front();
    answers_.pop_front();
    return answer;
}

}  // namespace k5::torvik::test
