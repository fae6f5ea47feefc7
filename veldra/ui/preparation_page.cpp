#include "veldra/ui/preparation_page.h"

#include <QCheckBox>
#include <QPalette>

#include "qtkit/dialog_font.h"

namespace k5::veldra {

namespace {

// The note's font: bold, 17 pixels from the top of its ascent to the bottom of its descent.
constexpr int kNoteCellHeight = 17;

}  // namespace

CPreparationPage::CPreparationPage(QWidget* parent) : WizardPage(parent) {
    const qtkit::DialogUnits units = WizardUnits(font());
    AddStatic(this, units, QRect(5, 4, 305, 41), "preparationText")
        ->setText(PageText(kPreparationText));

    QLabel* note = AddStatic(this, units, QRect(5, 45, 305, 15), "preparationNote");
    note->setFont(qtkit::CellHeightFont(kNoteCellHeight, QFont::Bold));
    QPalette red = note->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    note->setPalette(red);
    note->setText(PageText(kPreparationNote));

    AddStatic(this, units, QRect(5, 60, 305, 25), "warmedUpExplanation")
        ->setText(PageText(kWarmedUpExplanation));

    warmedUpBox_ = new QCheckBox(PageText(kWarmedUpAnswer), this);
    warmedUpBox_->setObjectName(QStringLiteral("warmedUpBox"));
    warmedUpBox_->setGeometry(units.Rect(5, 85, 305, 10));
    connect(warmedUpBox_, &QCheckBox::clicked, this, &CPreparationPage::OnWarmedUpClicked);

    AddStatic(this, units, QRect(5, 115, 305, 15), "preparationClosing")
        ->setText(PageText(kPreparationClosing));
}

void CPreparationPage::Enter() {
    warmedUpBox_->setChecked(false);
    emit warmedUpChecked(false);
}

void CPreparationPage::OnWarmedUpClicked() {
    emit warmedUpChecked(warmedUpBox_->isChecked());
}

}  // namespace k5::veldra
