#pragma once

#include <QIcon>
#include <QPixmap>

namespace k5::veldra {

// The wizard's picture: an amplifier front with a calibration trace, drawn to `size`.
QPixmap WizardPicture(QSize size);

// The window icon: the same drawing at the usual icon sizes, from the icon files the
// desktop menu shows too.
QIcon WizardIcon();

}  // namespace k5::veldra
