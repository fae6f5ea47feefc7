#include "recording_boxes.h"

namespace k5::torvik::test {

qtkit::MessageAnswer RecordingBoxes::Show(QWidget* /*parent*/,
                                          const qtkit::MessageRequest& request) {
    shown_.push_back(request);
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
