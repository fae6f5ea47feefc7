#include <QApplication>

#include "qtkit/message_boxes.h"
#include "veldra/calibration_wizard_dlg.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VELDRA"));

    k5::qtkit::QtMessageBoxes boxes;
    k5::veldra::CCalibrationWizardDlg wizard(boxes);
    wizard.exec();
    // The wizard's end is the program's end.
    return 0;
}
