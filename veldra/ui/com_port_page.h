#pragma once

#include <array>

#include "veldra/detection.h"
#include "veldra/ui/wizard_page.h"

class QComboBox;

namespace k5::veldra {

// Page 3: "Auto Detect" or one of the COM ports that exist, listed afresh on every entry.
class CComPortPage : public WizardPage {
    Q_OBJECT

public:
    // `portExists` answers for COM1 to COM15; empty asks the system (k5::PortExists).
    CComPortPage(QWidget* parent, PortProbe portExists);

    void Enter() override;

    // 0 for "Auto Detect", otherwise the chosen COM port's number.
    int GetSelectedPort() const;

    QComboBox* PortList() const { return portList_; }

private:
    void OnSelectionChanged(int index);

    PortProbe portExists_;
    QComboBox* portList_ = nullptr;
    int selected_ = 0;
    // The port number behind each list item; item 0, "Auto Detect", holds 0.
    std::array<int, kLastAutoPort + 1> ports_{};
};

}  // namespace k5::veldra
