#include "veldra/ui/welcome_page.h"

namespace k5::veldra {

CWelcomePage::CWelcomePage(QWidget* parent) : WizardPage(parent) {
    const qtkit::DialogUnits units = WizardUnits(font());
    AddStatic(this, units, QRect(5, 5, 295, 100), "welcomeText")->setText(PageText(kWelcomeText));
}

}  // namespace k5::veldra
