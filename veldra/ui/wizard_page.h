#pragma once

#include <QFontMetrics>
#include <QLabel>
#include <QString>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <string_view>

#include "qtkit/dialog_units.h"
#include "veldra/page_texts.h"

namespace k5::veldra {

// One page of the wizard: a borderless child of the frame, placed over the frame's page
// rectangle and shown one at a time. Enter() is the page's entry event: the frame calls it
// each time it makes a hidden page visible, and never otherwise, so a page that resets itself
// on entry does so exactly once per visit (restoring a minimised frame is no visit).
class WizardPage : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;

    virtual void Enter() {}
};

// The wizard's dialog units: the font's average character width, and its line spacing as the
// unit height, so that a static text keeps as many lines as its template gives it room for
// even where the font adds leading between lines.
inline qtkit::DialogUnits WizardUnits(const QFont& font) {
    const qtkit::DialogUnits units(font);
    // A label lays its lines out at the fractional spacing rounded up.
    const int lineSpacing = static_cast<int>(std::ceil(QFontMetricsF(font).lineSpacing()));
    return qtkit::DialogUnits(units.BaseWidth(), std::max(units.BaseHeight(), lineSpacing));
}

// A page text as a label shows it: each "\n\r" becomes one line break, and the breaks that
// end a text (kept there for the next piece appended) take no room at the bottom.
inline QString PageText(std::string_view text) {
    std::string lines = ToLineFeeds(text);
    while (!lines.empty() && lines.back() == '\n') {
        lines.pop_back();
    }
    return QString::fromUtf8(lines.data(), static_cast<qsizetype>(lines.size()));
}

// A word-wrapped static text at dialog-unit coordinates, its lines starting at the top left
// as a Windows static does.
inline QLabel* AddStatic(QWidget* page, const qtkit::DialogUnits& units, QRect where,
                         const char* name) {
    auto* label = new QLabel(page);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(units.Rect(where.x(), where.y(), where.width(), where.height()));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace k5::veldra
