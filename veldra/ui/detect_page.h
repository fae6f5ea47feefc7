#pragma once

#include "veldra/detect_page_model.h"
#include "veldra/ui/wizard_page.h"

namespace k5::veldra {

// Page 4: "Looking for K5..." and then the detection's outcome.
class CDetectPage : public WizardPage {
    Q_OBJECT

public:
    explicit CDetectPage(QWidget* parent);

    void Enter() override;
    // A detection result forwarded by the frame.
    void ShowDetectResult(uint32_t code, int32_t port);

    // The page's text exactly as composed, line breaks "\n\r".
    const std::string& Text() const { return model_.Text(); }

private:
    void Refresh();

    DetectPageModel model_;
    QLabel* text_ = nullptr;
};

}  // namespace k5::veldra
