#include "tools/snapshot.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <cstdio>

namespace k5::tools {

bool SaveSnapshot(QWidget& widget, const QString& directory, const QString& name) {
    widget.show();
    QApplication::processEvents();
    const QString path = QDir(directory).filePath(name + QStringLiteral(".png"));
    if (!widget.grab().save(path)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace k5::tools
