#include "qtkit/dialog_units.h"

#include <QFont>
#include <QFontMetrics>
#include <cmath>

namespace k5::qtkit {

namespace {

// units * base / divisor, rounded half away from zero as the Windows conversion does.
int Scale(int units, int base, int divisor) {
    const long long product = static_cast<long long>(units) * base;
    const long long half = divisor / 2;
    return static_cast<int>(product >= 0 ? (product + half) / divisor
                                         : -((-product + half) / divisor));
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseWidth_ = std::max(1, (letters + 26) / 52);
    baseHeight_ = std::max(1, metrics.height());
}

int DialogUnits::X(int units) const {
    return Scale(units, baseWidth_, 4);
}

int DialogUnits::Y(int units) const {
    return Scale(units, baseHeight_, 8);
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    // Edges are converted, not sizes, so neighbouring controls never overlap by rounding.
    const int left = X(x);
    const int top = Y(y);
    return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

QSize DialogUnits::Size(int width, int height) const {
    return QSize(X(width), Y(height));
}

}  // namespace k5::qtkit
