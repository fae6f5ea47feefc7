#pragma once

#include <QFont>

namespace k5::qtkit {

// The font the programs' windows are laid out with: the system's sans font at 8 points,
// standing in for the dialog font of the Windows build.
QFont DialogFont();

}  // namespace k5::qtkit
