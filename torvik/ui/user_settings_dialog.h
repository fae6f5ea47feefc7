#pragma once

#include <QDialog>
#include <array>

#include "devlink/config_settings.h"
#include "torvik/user_setting_rules.h"

class QLineEdit;

namespace k5::qtkit {
class MessageBoxes;
}  // namespace k5::qtkit

namespace k5::torvik {

// The caption of the dialogs' validation prompts.
inline constexpr auto kValidationCaption = "TORVIK";

// Edits the ten user parameters of a settings record. OK checks the fields in their fixed
// order and stops at the first that fails, with its prompt and the field's text selected;
// the record changes only when every field passes. Esc and the close box leave it as it was.
class CUserSettingsDlg : public QDialog {
    Q_OBJECT

public:
    // `settings` may be null: the dialog then shows zeros and 0.28125, and OK writes nothing.
    CUserSettingsDlg(ConfigSettings* settings, qtkit::MessageBoxes& boxes,
                     QWidget* parent = nullptr);

    QLineEdit* Field(UserSettingField field) const;

    void accept() override;

private:
    ConfigSettings* settings_;
    qtkit::MessageBoxes& boxes_;
    std::array<QLineEdit*, kUserSettingOrder.size()> fields_{};
};

}  // namespace k5::torvik
