// The windows are placed from dialog units; these checks catch a placement or a unit
// conversion that clips a caption or lets two controls overlap.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <functional>
#include <memory>

#include "qtkit/dialog_units.h"
#include "recording_boxes.h"
#include "torvik/ui/status_dialog.h"
#include "torvik/ui/torvik_dialog.h"
#include "torvik/ui/user_settings_dialog.h"

namespace k5::torvik::test {
namespace {

TEST(DialogUnits, ConvertEdgesSoNeighboursMeetWithoutGapOrOverlap) {
    const qtkit::DialogUnits units(7, 15);  // quarter and eighth units that do not divide evenly
    EXPECT_EQ(units.X(4), 7);
    EXPECT_EQ(units.Y(8), 15);
    EXPECT_EQ(units.X(2), 4);  // 3.5 rounds away from zero
    EXPECT_EQ(units.Y(-4), -8);
    const QRect left = units.Rect(12, 12, 48, 18);
    const QRect right = units.Rect(60, 12, 48, 18);
    EXPECT_EQ(left.right() + 1, right.left());
    EXPECT_EQ(units.Rect(0, 0, 1, 1).width() + units.Rect(1, 0, 1, 1).width(),
              units.Rect(0, 0, 2, 1).width());
}

TEST(DialogUnits, ScaleWithTheFont) {
    QFont small = QApplication::font();
    small.setPixelSize(10);
    QFont large = small;
    large.setPixelSize(20);
    const qtkit::DialogUnits smallUnits(small);
    const qtkit::DialogUnits largeUnits(large);
    EXPECT_GT(largeUnits.BaseHeight(), smallUnits.BaseHeight());
    EXPECT_GT(largeUnits.BaseWidth(), smallUnits.BaseWidth());
    EXPECT_GE(smallUnits.BaseWidth(), 1);
}

void ExpectTidy(QWidget& window) {
    window.ensurePolished();
    const QRect area = window.rect();
    std::vector<QWidget*> placed;
    for (QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow()) {
            continue;
        }
        const std::string what =
            child->metaObject()->className() + std::string(" ") + child->objectName().toStdString();
        EXPECT_TRUE(area.contains(child->geometry())) << what << " leaves the window";
        const QFontMetrics metrics(child->font());
        if (auto* label = qobject_cast<QLabel*>(child)) {
            if (label->wordWrap()) {
                EXPECT_LE(label->heightForWidth(label->width()), label->height()) << what;
            } else {
                EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width())
                    << label->text().toStdString();
            }
        }
        if (auto* button = qobject_cast<QAbstractButton*>(child)) {
            EXPECT_LE(metrics.horizontalAdvance(button->text()) + 8, button->width())
                << button->text().toStdString();
        }
        if (auto* group = qobject_cast<QGroupBox*>(child)) {
            EXPECT_LE(metrics.horizontalAdvance(group->title()) + 16, group->width())
                << group->title().toStdString();
            continue;  // a group box frames its neighbours
        }
        placed.push_back(child);
    }
    for (size_t i = 0; i < placed.size(); ++i) {
        for (size_t j = i + 1; j < placed.size(); ++j) {
            EXPECT_FALSE(placed[i]->geometry().intersects(placed[j]->geometry()))
                << placed[i]->metaObject()->className() << " "
                << placed[i]->objectName().toStdString() << " overlaps "
                << placed[j]->metaObject()->className() << " "
                << placed[j]->objectName().toStdString();
        }
    }
}

TEST(WindowLayout, MainWindowHasNoClippedOrOverlappingControlsAndCarriesItsIcon) {
    RecordingBoxes boxes;
    CTORVIKDlg window(boxes);
    ExpectTidy(window);
    for (const int size : {16, 32, 48}) {
        EXPECT_FALSE(window.windowIcon().pixmap(size).isNull()) << size;
    }
}

TEST(WindowLayout, UserSettingsDialogHasNoClippedOrOverlappingControls) {
    RecordingBoxes boxes;
    ConfigSettings settings;
    CUserSettingsDlg dialog(&settings, boxes);
    ExpectTidy(dialog);
}

TEST(WindowLayout, StatusDialogHasNoClippedOrOverlappingControls) {
    const ConfigSettings settings;
    CStatusDlg dialog(&settings);
    ExpectTidy(dialog);
}

}  // namespace
}  // namespace k5::torvik::test
