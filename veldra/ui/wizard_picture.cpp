#include "veldra/ui/wizard_picture.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <numbers>

// The resources live in a static library: register them before the first use.
static void InitVeldraResources() {
    Q_INIT_RESOURCE(veldra);
}

namespace k5::veldra {

QPixmap WizardPicture(QSize size) {
    QPixmap picture(size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area(0.5, 0.5, size.width() - 1.0, size.height() - 1.0);
    const double unit = std::min(area.width(), area.height()) / 32.0;

    // The amplifier's front panel: a dark rounded case with a lighter face.
    QLinearGradient face(area.topLeft(), area.bottomLeft());
    face.setColorAt(0.0, QColor(0x4a, 0x55, 0x68));
    face.setColorAt(1.0, QColor(0x1f, 0x26, 0x33));
    painter.setPen(QPen(QColor(0x10, 0x14, 0x1c), unit));
    painter.setBrush(face);
    painter.drawRoundedRect(area, 4 * unit, 4 * unit);

    // The measuring screen with one sine period and the level it is calibrated to.
    const QRectF screen(area.left() + 4 * unit, area.top() + 4 * unit, area.width() - 8 * unit,
                        area.height() * 0.55);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x0b, 0x2e, 0x1e));
    painter.drawRoundedRect(screen, 2 * unit, 2 * unit);
    QPainterPath trace;
    const int points = 48;
    for (int i = 0; i <= points; ++i) {
        const double t = static_cast<double>(i) / points;
        const double x = screen.left() + 2 * unit + t * (screen.width() - 4 * unit);
        const double y = screen.center().y() -
                         std::sin(t * 2 * std::numbers::pi) * (screen.height() / 2 - 3 * unit);
        i == 0 ? trace.moveTo(x, y) : trace.lineTo(x, y);
    }
    painter.setPen(QPen(QColor(0x5c, 0xf2, 0x8c), 1.6 * unit, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(trace);
    painter.setPen(QPen(QColor(0xf2, 0xc1, 0x4e), unit, Qt::DashLine));
    const double level = screen.top() + 3 * unit;
    painter.drawLine(QPointF(screen.left() + unit, level), QPointF(screen.right() - unit, level));

    // Two channel knobs under the screen.
    const double knobY = screen.bottom() + (area.bottom() - screen.bottom()) / 2;
    const double radius = std::max(2.5 * unit, 1.0);
    painter.setPen(QPen(QColor(0x10, 0x14, 0x1c), unit * 0.6));
    painter.setBrush(QColor(0xc9, 0xcf, 0xd8));
    for (const double x : {area.left() + area.width() * 0.3, area.left() + area.width() * 0.7}) {
        painter.drawEllipse(QPointF(x, knobY), radius, radius);
    }
    return picture;
}

QIcon WizardIcon() {
    InitVeldraResources();
    QIcon icon;
    for (const int side : {16, 32, 48}) {
        icon.addFile(QStringLiteral(":/veldra/veldra-%1.png").arg(side), QSize(side, side));
    }
    return icon;
}

}  // namespace k5::veldra
