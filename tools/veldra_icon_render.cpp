// Writes the wizard's icon, drawn by the program itself, as PNG files veldra-<side>.png in
// the given folder, so that a packaging step can turn them into an icon file (the Windows
// resource, for one) that shows the same drawing as the running wizard.
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

#include "veldra/ui/wizard_picture.h"

int main(int argc, char* argv[]) {
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: veldra_icon_render FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.exists()) {
        std::fprintf(stderr, "no folder %s\n", argv[1]);
        return 1;
    }
    for (const int side : {16, 32, 48, 256}) {
        const QString path = folder.filePath(QStringLiteral("veldra-%1.png").arg(side));
        if (!k5::veldra::WizardPicture(QSize(side, side)).save(path, "PNG")) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
