#pragma once

#include <QRect>

class QFont;

namespace k5::qtkit {

// Places controls from dialog-unit coordinates the way Windows dialog templates are laid
// out: a horizontal unit is a quarter of the font's average character width, a vertical unit
// an eighth of its height, so a layout keeps its proportions with any font.
class DialogUnits {
public:
    // Base units measured from `font`: the average width of the 52 Latin letters (rounded)
    // and the font's line height.
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseWidth, int baseHeight) : baseWidth_(baseWidth), baseHeight_(baseHeight) {}

    int BaseWidth() const { return baseWidth_; }
    int BaseHeight() const { return baseHeight_; }

    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;

private:
    int baseWidth_;
    int baseHeight_;
};

}  // namespace k5::qtkit
