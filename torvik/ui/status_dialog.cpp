#include "torvik/ui/status_dialog.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <array>

#include "qtkit/dialog_font.h"
#include "qtkit/dialog_units.h"

namespace k5::torvik {

namespace {

QString SignedDecimal(uint32_t value) {
    return QString::number(static_cast<int32_t>(value));
}

QString Hex(uint32_t value, int digits) {
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

}  // namespace

CStatusDlg::CStatusDlg(const ConfigSettings* settings, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Status"));
    setFont(qtkit::DialogFont());
    const qtkit::DialogUnits units(font());
    setFixedSize(units.Size(202, 150));

    auto* registers = new QGroupBox(QStringLiteral("Power AMP Registers"), this);
    registers->setGeometry(units.Rect(12, 48, 180, 96));

    struct Field {
        const char* name;
        const char* label;
        int x;
        int y;
        int labelWidth;
        QString text;
    };
    std::array<Field, 7> fields = {{
        {"calcPmax", "Pmax(W):", 48, 12, 36, {}},
        {"calcPc", "Pc(W):", 144, 12, 36, {}},
        {"calcIp", "Ip(A):", 48, 30, 36, {}},
        {"leftConductance", "Left High Cont(0xA110):", 126, 66, 106, {}},
        {"rightConductance", "Right High Cont(0xA111):", 126, 84, 106, {}},
        {"stmax", "STMAX(0xA108):", 126, 102, 106, {}},
        {"stpte", "STPTE(0xA10A):", 126, 119, 106, {}},
    }};

    if (settings != nullptr) {
        fields[0].text = SignedDecimal(settings->calcPmax);
        fields[1].text = SignedDecimal(settings->calcPc);
        fields[2].text = SignedDecimal(settings->calcIp);
        fields[3].text = Hex(settings->registers[kEntryLeftConductance].value, 0);
        fields[4].text = Hex(settings->registers[kEntryRightConductance].value, 0);
        fields[5].text = Hex(settings->registers[kEntryStmax].value, 8);
        fields[6].text = Hex(settings->registers[kEntryStpte].value, 8);
    }

    for (const Field& field : fields) {
        auto* label = new QLabel(QString::fromLatin1(field.label), this);
        label->setGeometry(
            units.Rect(field.x - field.labelWidth - 2, field.y, field.labelWidth, 12));
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

        auto* edit = new QLineEdit(field.text, this);
        edit->setObjectName(QString::fromLatin1(field.name));
        edit->setGeometry(units.Rect(field.x, field.y, 48, 12));
        edit->setAlignment(Qt::AlignCenter);
        edit->setReadOnly(true);
        label->setBuddy(edit);
    }
}

void CStatusDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace k5::torvik
