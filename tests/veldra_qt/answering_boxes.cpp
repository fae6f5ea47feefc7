#include "answering_boxes.h"

namespace k5::veldra::test {

qtkit::MessageAnswer AnsweringBoxes::Show(QWidget*, const qtkit::MessageRequest& request) {
    shown_.push_back(request);
    if (whileAsking_) {
        const std::function<void()> action = std::move(whileAsking_);
        whileAsking_ = nullptr;
        action();
    }
    if (answers_.empty()) {
        return qtkit::MessageAnswer::Cancel;
    }
    const qtkit::MessageAnswer answer = answers_.front();
    answers_.pop_front();
    return answer;
}

}  // namespace k5::veldra::test
