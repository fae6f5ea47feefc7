#include <QApplication>

#include "qtkit/message_boxes.h"
#include "torvik/torvik_dialog.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TORVIK"));

    k5::qtkit::QtMessageBoxes boxes;
    k5::torvik::CTORVIKDlg window(boxes);
    window.exec();
    // The window's end is the program's end, whatever button closed it.
    return 0;
}
