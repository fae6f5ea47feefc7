#include "recording_boxes.h"

namespace k5::torvik::test {

qtkit::MessageAnswer RecordingBoxes::Show(QWidget* parent, const qtkit::MessageRequest& request) {
    return ShowWithDetail(parent, request, QString());
}

qtkit::MessageAnswer RecordingBoxes::ShowWithDetail(QWidget* /*parent*/,
                                                    const qtkit::MessageRequest& request,
                                                    const QString& informativeText) {
    shown_.push_back(request);
    details_.push_back(informativeText);
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
