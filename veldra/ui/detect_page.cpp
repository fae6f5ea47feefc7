#include "veldra/ui/detect_page.h"

namespace k5::veldra {

CDetectPage::CDetectPage(QWidget* parent) : WizardPage(parent) {
    const qtkit::DialogUnits units = WizardUnits(font());
    text_ = AddStatic(this, units, QRect(5, 5, 295, 115), "detectText");
}

void CDetectPage::Enter() {
    model_.Show();
    Refresh();
}

void CDetectPage::ShowDetectResult(uint32_t code, int32_t port) {
    model_.Apply(code, port);
    Refresh();
}

void CDetectPage::Refresh() {
    text_->setText(PageText(model_.Text()));
}

}  // namespace k5::veldra
