#include "veldra/detect_page_model.h"

#include "veldra/page_texts.h"

namespace k5::veldra {

void DetectPageModel::Show() {
    text_ = kLookingForK5;
}

void DetectPageModel::Apply(uint32_t code, int32_t port) {
    text_ += DetectionResultText(code, port);
}

}  // namespace k5::veldra
