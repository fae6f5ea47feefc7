#include "qtkit/dialog_font.h"

#include <QFontDatabase>

namespace k5::qtkit {

QFont DialogFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    return font;
}

}  // namespace k5::qtkit
