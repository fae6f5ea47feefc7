#pragma once

#include <QFont>

namespace k5::qtkit {

// The font the programs' windows are laid out with: the system's sans font at 8 points,
// standing in for the dialog font of the Windows build.
QFont DialogFont();

// The system's sans font at `pointSize`, for the windows laid out in a larger dialog font.
QFont SansFont(int pointSize);

// A sans font whose line (ascent + descent) fills `cellHeight` pixels, as a Windows font
// created with a positive height: labels keep the height their layout was drawn for.
QFont CellHeightFont(int cellHeight, QFont::Weight weight);

}  // namespace k5::qtkit
