#include <QApplication>
#include <cstdio>
#include <string_view>

#include "k5/version.h"
#include "qtkit/message_boxes.h"
#include "serialport/notices.h"
#include "serialport/timer_resolution.h"
#include "veldra/ui/calibration_wizard_dlg.h"

int main(int argc, char* argv[]) {
    k5::SendNoticesToStandardError();
    // Answered before Qt looks for a display, so that it works from any terminal.
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--version") {
            std::printf("veldra %s\n", k5::kKitVersion);
            return 0;
        }
    }

    // The exchanges' pauses and time-outs to the millisecond, as in k5ctl: on Windows they
    // would otherwise run to the next 15.6 ms tick.
    const k5::TimerResolution timer;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VELDRA"));
    QApplication::setApplicationVersion(QString::fromLatin1(k5::kKitVersion));
    // The window class is the application name (VELDRA), as the menu entry's StartupWMClass
    // expects; Wayland matches the window to the entry by its file name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.k5kit.Veldra"));

    k5::qtkit::QtMessageBoxes boxes;
    k5::veldra::CCalibrationWizardDlg wizard(boxes);
    wizard.exec();
    // The wizard's end is the program's end.
    return 0;
}
