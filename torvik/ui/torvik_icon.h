#pragma once

#include <QIcon>

namespace k5::torvik {

// The tool's application icon, from the resources linked into the window library.
QIcon TorvikIcon();

}  // namespace k5::torvik
