#pragma once

#include "veldra/calibration_page_model.h"
#include "veldra/ui/wizard_page.h"

class QProgressBar;

namespace k5::veldra {

// Page 6: the calibration's step log and its progress bar, both fresh on every entry.
class CCalibrationPage : public WizardPage {
    Q_OBJECT

public:
    explicit CCalibrationPage(QWidget* parent);

    void Enter() override;
    // A calibration event forwarded by the frame.
    void ShowCalibProgress(uint32_t code);

    const std::string& Log() const { return model_.Log(); }
    QProgressBar* ProgressBar() const { return bar_; }

private:
    void Refresh();

    CalibrationPageModel model_;
    QLabel* log_ = nullptr;
    QProgressBar* bar_ = nullptr;
};

}  // namespace k5::veldra
