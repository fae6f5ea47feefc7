#include "veldra/ui/calibration_page.h"

#include <QProgressBar>

namespace k5::veldra {

CCalibrationPage::CCalibrationPage(QWidget* parent) : WizardPage(parent) {
    const qtkit::DialogUnits units = WizardUnits(font());
    log_ = AddStatic(this, units, QRect(5, 5, 315, 140), "calibrationLog");
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("calibrationProgress"));
    bar_->setGeometry(units.Rect(5, 150, 320, 15));
    bar_->setRange(0, CalibrationPageModel::kMaximum);
    bar_->setTextVisible(false);
}

void CCalibrationPage::Enter() {
    model_.Show();
    bar_->setEnabled(true);
    Refresh();
}

void CCalibrationPage::ShowCalibProgress(uint32_t code) {
    model_.Apply(code);
    Refresh();
}

void CCalibrationPage::Refresh() {
    log_->setText(PageText(model_.Log()));
    bar_->setValue(model_.Position());
}

}  // namespace k5::veldra
