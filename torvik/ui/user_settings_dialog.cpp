#include "torvik/ui/user_settings_dialog.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <string>

#include "qtkit/dialog_font.h"
#include "qtkit/dialog_units.h"
#include "qtkit/message_boxes.h"

namespace k5::torvik {

namespace {

struct FieldPlace {
    const char* name;
    const char* label;
    int x;
    int y;
};

// In exchange order, the order of kUserSettingOrder.
constexpr std::array<FieldPlace, kUserSettingOrder.size()> kPlaces = {{
    {"pmax", "Pmax(W):", 48, 12},
    {"pc", "Pc(W):", 144, 12},
    {"ip", "Ip(A):", 48, 30},
    {"pref", "Pref(W):", 144, 30},
    {"ep", "EP:", 48, 66},
    {"red", "Red:", 144, 66},
    {"rec", "Rec:", 48, 84},
    {"cp", "CP:", 48, 156},
    {"conductanceMin", "MIN:", 48, 132},
    {"conductanceMax", "MAX:", 144, 132},
}};

QString FieldText(const UserSettings& values, UserSettingField field) {
    switch (field) {
        case UserSettingField::Pmax:
            return QString::number(values.pmax);
        case UserSettingField::Pc:
            return QString::number(values.pc);
        case UserSettingField::Ip:
            return QString::number(values.ip);
        case UserSettingField::Pref:
            return QString::number(values.pref);
        case UserSettingField::Ep:
            return QString::number(values.ep);
        case UserSettingField::Red:
            return QString::number(values.red);
        case UserSettingField::Rec:
            return QString::number(values.rec);
        case UserSettingField::Cp:
            // Shortest form, up to six significant digits, always with a point.
            return QString::fromStdString(FormatSettingNumber(static_cast<double>(values.cp)));
        case UserSettingField::ConductanceMin:
            return QString::number(values.conductanceMin);
        case UserSettingField::ConductanceMax:
            return QString::number(values.conductanceMax);
    }
    return {};
}

}  // namespace

CUserSettingsDlg::CUserSettingsDlg(ConfigSettings* settings, qtkit::MessageBoxes& boxes,
                                   QWidget* parent)
    : QDialog(parent), settings_(settings), boxes_(boxes) {
    setWindowTitle(QStringLiteral("User Settings"));
    setFont(qtkit::DialogFont());
    const qtkit::DialogUnits units(font());
    setFixedSize(units.Size(214, 180));

    // Created first, so it comes first in the tab order and has the focus on opening.
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setGeometry(units.Rect(144, 156, 50, 14));
    ok->setDefault(true);
    ok->setFocus();
    connect(ok, &QPushButton::clicked, this, &CUserSettingsDlg::accept);

    // The group boxes go below the fields they frame, so they never cover them.
    auto* pte = new QGroupBox(QStringLiteral("PTE Settings"), this);
    pte->setGeometry(units.Rect(12, 48, 192, 60));
    auto* range = new QGroupBox(QStringLiteral("Conductance range"), this);
    range->setGeometry(units.Rect(12, 114, 192, 36));

    // Without a record the fields show what the bound values hold before any exchange.
    UserSettings shown{};
    shown.cp = kCpMin;
    if (settings_ != nullptr) {
        shown = settings_->TakeUserSettings();
    }

    for (size_t i = 0; i < kPlaces.size(); ++i) {
        const FieldPlace& place = kPlaces[i];
        auto* label = new QLabel(QString::fromLatin1(place.label), this);
        label->setGeometry(units.Rect(place.x - 38, place.y, 36, 12));
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

        auto* edit = new QLineEdit(FieldText(shown, kUserSettingOrder[i]), this);
        edit->setObjectName(QString::fromLatin1(place.name));
        edit->setGeometry(units.Rect(place.x, place.y, 48, 12));
        edit->setAlignment(Qt::AlignCenter);
        label->setBuddy(edit);
        fields_[i] = edit;
    }
    ok->setFocus();
}

QLineEdit* CUserSettingsDlg::Field(UserSettingField field) const {
    for (size_t i = 0; i < kUserSettingOrder.size(); ++i) {
        if (kUserSettingOrder[i] == field) {
            return fields_[i];
        }
    }
    return nullptr;
}

void CUserSettingsDlg::accept() {
    UserSettings values{};
    if (settings_ != nullptr) {
        values = settings_->TakeUserSettings();
    }
    for (size_t i = 0; i < kUserSettingOrder.size(); ++i) {
        QLineEdit* edit = fields_[i];
        const std::string text = edit->text().toStdString();
        if (const auto prompt = ApplyUserSetting(values, kUserSettingOrder[i], text)) {
            boxes_.Show(this,
                        {QString::fromLatin1(kValidationCaption), QString::fromStdString(*prompt),
                         qtkit::MessageIcon::Exclamation, qtkit::MessageButtons::Ok});
            edit->setFocus(Qt::OtherFocusReason);
            edit->selectAll();
            return;
        }
    }
    if (settings_ != nullptr) {
        settings_->PutUserSettings(values);
    }
    QDialog::accept();
}

}  // namespace k5::torvik
