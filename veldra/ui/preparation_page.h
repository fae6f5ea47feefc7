#pragma once

#include "veldra/ui/wizard_page.h"

class QCheckBox;

namespace k5::veldra {

// Page 2: the bench preparation and the answer whether the K5 is already warm. The box is
// cleared on every entry, and every entry and every click tell the frame the box's state.
class CPreparationPage : public WizardPage {
    Q_OBJECT

public:
    explicit CPreparationPage(QWidget* parent);

    void Enter() override;

    QCheckBox* WarmedUpBox() const { return warmedUpBox_; }

signals:
    void warmedUpChecked(bool warmedUp);

private:
    void OnWarmedUpClicked();

    QCheckBox* warmedUpBox_ = nullptr;
};

}  // namespace k5::veldra
