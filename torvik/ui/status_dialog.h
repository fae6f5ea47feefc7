#pragma once

#include <QDialog>

#include "devlink/config_settings.h"

class QLineEdit;

namespace k5::torvik {

// Shows what the last configuration run calculated and measured, read-only: the three
// register fields as signed decimals, the conductance readings in hexadecimal, STMAX and
// STPTE as eight hexadecimal digits. Enter, Esc and the close box close it.
class CStatusDlg : public QDialog {
    Q_OBJECT

public:
    // `settings` may be null: every field then stays empty.
    explicit CStatusDlg(const ConfigSettings* settings, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace k5::torvik
