#include "torvik/ui/torvik_icon.h"

// The resources live in a static library: register them before the first use.
static void InitTorvikResources() {
    Q_INIT_RESOURCE(torvik);
}

namespace k5::torvik {

QIcon TorvikIcon() {
    InitTorvikResources();
    QIcon icon;
    for (const int size : {16, 32, 48}) {
        icon.addFile(QStringLiteral(":/torvik/torvik-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace k5::torvik
