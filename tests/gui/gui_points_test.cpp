#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QString>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "devlink/config_settings.h"
#include "qtkit/message_boxes.h"
#include "torvik/result_texts.h"
#include "torvik/ui/status_dialog.h"
#include "torvik/ui/torvik_dialog.h"
#include "torvik/ui/user_settings_dialog.h"
#include "veldra/page_texts.h"
#include "veldra/ui/calibration_wizard_dlg.h"

namespace k5::gui::test {
namespace {

struct GuiWindow {
    std::string_view window;
    std::string_view title;
    int width;
    int height;
};

struct GuiPoint {
    std::string_view window;
    std::string_view point;
    int x;
    int y;
    std::string_view control;
};

#define K5_GUI_WINDOW(window, title, width, height) GuiWindow{#window, title, width, height},
#define K5_GUI_POINT(window, point, x, y, control)
const std::vector<GuiWindow> kWindows = {
#include "tests/gui/gui_points.inc"
};
#undef K5_GUI_WINDOW
#undef K5_GUI_POINT

#define K5_GUI_WINDOW(window, title, width, height)
#define K5_GUI_POINT(window, point, x, y, control) GuiPoint{#window, #point, x, y, control},
const std::vector<GuiPoint> kPoints = {
#include "tests/gui/gui_points.inc"
};
#undef K5_GUI_WINDOW
#undef K5_GUI_POINT

QString FromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Nothing is ever asked: the windows are only built and measured.
class SilentBoxes : public qtkit::MessageBoxes {
public:
    qtkit::MessageAnswer Show(QWidget*, const qtkit::MessageRequest&) override {
        return qtkit::MessageAnswer::Cancel;
    }
};

// Every window and box the scenarios meet, as the programs build them.
class ProgramWindows {
public:
    ProgramWindows()
        : torvik_(boxes_, torvik::TorvikOptions{}),
          userSettings_(&settings_, boxes_),
          status_(&settings_),
          veldra_(boxes_) {}

    // The window the file calls `window`, or nullptr for a message box.
    QDialog* Window(std::string_view window) {
        if (window == "torvik") {
            return &torvik_;
        }
        if (window == "user_settings") {
            return &userSettings_;
        }
        if (window == "status") {
            return &status_;
        }
        if (window == "veldra") {
            return &veldra_;
        }
        return nullptr;
    }

    // The caption the program gives window or box `window`; empty for a name it lacks.
    QString Title(std::string_view window) {
        if (QDialog* dialog = Window(window)) {
            return dialog->windowTitle();
        }
        if (window == "validation_box") {
            return QString::fromLatin1(torvik::kValidationCaption);
        }
        if (window == "note_box") {
            return FromView(torvik::kMessageCaption);
        }
        if (window == "confirm_exit_box") {
            return FromView(veldra::kConfirmExitCaption);
        }
        if (window == "confirm_cancel_box") {
            return FromView(veldra::kConfirmCancelCaption);
        }
        return {};
    }

private:
    SilentBoxes boxes_;
    ConfigSettings settings_;
    torvik::CTORVIKDlg torvik_;
    torvik::CUserSettingsDlg userSettings_;
    torvik::CStatusDlg status_;
    veldra::CCalibrationWizardDlg veldra_;
};

TEST(GuiPoints, EveryTitleIsTheOneTheProgramShows) {
    ProgramWindows programs;
    for (const GuiWindow& window : kWindows) {
        SCOPED_TRACE(window.window);
        EXPECT_EQ(programs.Title(window.window).toStdString(), std::string(window.title));
        // A message box is answered with keys; a window that is clicked needs its size.
        EXPECT_EQ(window.width == 0, window.height == 0);
    }
}

// The scenarios place a click at x * W / width, y * H / height of a window W by H pixels,
// as here; the control must be under it whatever the dialog font makes of the units.
TEST(GuiPoints, EveryPointLiesOnItsControl) {
    ProgramWindows programs;
    for (const GuiPoint& point : kPoints) {
        SCOPED_TRACE(std::string(point.window) + "." + std::string(point.point));
        const auto window = std::find_if(kWindows.begin(), kWindows.end(), [&](const GuiWindow& w) {
            return w.window == point.window;
        });
        ASSERT_NE(window, kWindows.end());
        ASSERT_GT(window->width, 0);
        QDialog* dialog = programs.Window(point.window);
        ASSERT_NE(dialog, nullptr);
        auto* control = dialog->findChild<QWidget*>(FromView(point.control));
        ASSERT_NE(control, nullptr);
        const QPoint click(point.x * dialog->width() / window->width,
                           point.y * dialog->height() / window->height);
        const QRect place(control->mapTo(dialog, QPoint(0, 0)), control->size());
        EXPECT_TRUE(place.contains(click))
            << "click at " << click.x() << "," << click.y() << ", control at " << place.x() << ","
            << place.y() << " " << place.width() << "x" << place.height();
    }
}

}  // namespace
}  // namespace k5::gui::test

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
