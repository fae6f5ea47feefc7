#include "qtkit/dialog_font.h"

#include <QFontDatabase>
#include <QFontMetrics>

namespace k5::qtkit {

QFont DialogFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    return font;
}

QFont SansFont(int pointSize) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(pointSize);
    return font;
}

QFont CellHeightFont(int cellHeight, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setWeight(weight);
    // The largest pixel size whose line still fits the cell; a font's line is never
    // smaller than its pixel size, so the search starts there and walks down.
    int pixels = cellHeight > 1 ? cellHeight : 1;
    for (; pixels > 1; --pixels) {
        font.setPixelSize(pixels);
        if (QFontMetrics(font).height() <= cellHeight) {
            break;
        }
    }
    font.setPixelSize(pixels);
    return font;
}

}  // namespace k5::qtkit
