#include "veldra/ui/com_port_page.h"

#include <QComboBox>
#include <QSignalBlocker>

#include "serialport/com_port.h"

namespace k5::veldra {

CComPortPage::CComPortPage(QWidget* parent, PortProbe portExists)
    : WizardPage(parent), portExists_(std::move(portExists)) {
    if (!portExists_) {
        portExists_ = [](unsigned port) { return PortExists(port); };
    }
    const qtkit::DialogUnits units = WizardUnits(font());
    AddStatic(this, units, QRect(5, 5, 285, 40), "portInstruction")
        ->setText(PageText(kPortInstruction));
    QLabel* label = AddStatic(this, units, QRect(80, 62, 40, 10), "portLabel");
    label->setText(PageText(kPortLabel));

    portList_ = new QComboBox(this);
    portList_->setObjectName(QStringLiteral("portList"));
    portList_->setMaxVisibleItems(static_cast<int>(kLastAutoPort) + 1);
    // The template's box is 12 units high when closed; the rest is its drop-down list.
    const QRect box = units.Rect(120, 60, 55, 12);
    portList_->setGeometry(box.x(), box.center().y() - portList_->sizeHint().height() / 2,
                           box.width(), portList_->sizeHint().height());
    connect(portList_, &QComboBox::currentIndexChanged, this, &CComPortPage::OnSelectionChanged);
}

void CComPortPage::Enter() {
    const QSignalBlocker quiet(portList_);
    ports_.fill(0);
    portList_->clear();
    portList_->addItem(PageText(kAutoDetect));
    ListComPorts();  // gives adapters seen for the first time their numbers
    for (unsigned port = kFirstAutoPort; port <= kLastAutoPort; ++port) {
        if (portExists_(port) != 0) {
            portList_->addItem(QStringLiteral("COM%1").arg(port));
            portList_->setItemData(portList_->count() - 1,
                                   QString::fromStdString(ComPortToolTip(DescribeComPort(port))),
                                   Qt::ToolTipRole);
            ports_[static_cast<size_t>(portList_->count() - 1)] = static_cast<int>(port);
        }
    }
    portList_->setCurrentIndex(0);
    selected_ = 0;
}

int CComPortPage::GetSelectedPort() const {
    if (selected_ < 0 || static_cast<size_t>(selected_) >= ports_.size()) {
        return 0;
    }
    return ports_[static_cast<size_t>(selected_)];
}

void CComPortPage::OnSelectionChanged(int index) {
    selected_ = index;
}

}  // namespace k5::veldra
