#pragma once

#include "veldra/ui/wizard_page.h"

namespace k5::veldra {

// Page 1: the welcome text.
class CWelcomePage : public WizardPage {
    Q_OBJECT

public:
    explicit CWelcomePage(QWidget* parent);
};

}  // namespace k5::veldra
