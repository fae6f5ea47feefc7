#pragma once

#include <QLabel>
#include <QString>
#include <QWidget>
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

// A page text as a label shows it: each "\n\r" becomes one line break.
inline QString PageText(std::string_view text) {
    const std::string lines = ToLineFeeds(text);
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
