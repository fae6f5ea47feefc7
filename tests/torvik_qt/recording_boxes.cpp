#include "recording_boxes.h"

namespace k5::torvik::test {

MessageAnswer RecordingBoxes::Show(QWidget* /*parent*/, const MessageRequest& request) {
    shown_.push_back(request);
    if (request.buttons == MessageButtons::Ok) {
        return MessageAnswer::Ok;
    }
    if (answers_.empty()) {
        return MessageAnswer::No;
    }
    const MessageAnswer answer = answers_.front();
    answers_.pop_front();
    return answer;
}

}  // namespace k5::torvik::test
