// Renders every window and dialog of the configuration tool to PNG files for review: the
// main window idle, during a run and after a successful run, the message boxes it shows
// (the register reset's question when Alt+D comes from another program among them),
// both dialogs and a validation prompt. Runs against an in-process simulated K5 on COM1.
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "qtkit/message_boxes.h"
#include "sim/simulator.h"
#include "tools/snapshot.h"
#include "torvik/ui/status_dialog.h"
#include "torvik/ui/torvik_dialog.h"
#include "torvik/ui/user_settings_dialog.h"

namespace {

using namespace k5::torvik;
namespace qtkit = k5::qtkit;

QString outputDir;
int failures = 0;

void Save(QWidget& widget, const QString& name) {
    if (!k5::tools::SaveSnapshot(widget, outputDir, name)) {
        ++failures;
    }
}

// Shows each box as the program would, photographs it and answers No to a question.
class PhotographedBoxes : public qtkit::MessageBoxes {
public:
    QString nextName = QStringLiteral("message");

    qtkit::MessageAnswer Show(QWidget* parent, const qtkit::MessageRequest& request) override {
        const auto box = qtkit::BuildMessageBox(parent, request);
        Save(*box, nextName);
        return request.buttons == qtkit::MessageButtons::YesNo ? qtkit::MessageAnswer::No
                                                               : qtkit::MessageAnswer::Ok;
    }
};

bool WaitFor(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 10000);
}

template <typename T>
T* Child(QWidget& parent, const char* name) {
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr) {
        std::fprintf(stderr, "no control %s\n", name);
        std::exit(1);
    }
    return child;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    outputDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(outputDir);

    auto amp = k5::sim::Simulator::Start({.left = 760, .right = 760});
    if (!amp) {
        std::fprintf(stderr, "the simulated K5 did not start\n");
        return 1;
    }
    qputenv("K5_COM1", QByteArray::fromStdString(amp->DevicePath()));

    PhotographedBoxes boxes;
    // Slow enough that the run can be caught in the middle, fast enough to finish in seconds.
    CTORVIKDlg window(boxes, {.reportPath = QDir(outputDir).filePath(QStringLiteral("CfgLog.txt")),
                              .timeScale = 0.2});
    Save(window, QStringLiteral("main-idle"));

    Child<QPushButton>(window, "openButton")->click();
    Child<QPushButton>(window, "testLinkButton")->click();
    Save(window, QStringLiteral("main-port-open"));

    auto* log = Child<QPlainTextEdit>(window, "logPane");
    Child<QPushButton>(window, "startButton")->click();
    WaitFor([&] { return log->toPlainText().contains(QStringLiteral("Coeff1")); });
    Save(window, QStringLiteral("main-running"));

    boxes.nextName = QStringLiteral("message-save-question");
    WaitFor([&] { return !window.IsRunning(); });
    Save(window, QStringLiteral("main-success"));

    // Alt+D pressed while another program is active asks first (answered No here); pressed in
    // the tool itself, it resets at once and shows the outcome.
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    WaitFor([&] { return elsewhere.isActiveWindow(); });
    boxes.nextName = QStringLiteral("message-register-reset-question");
    window.ResetRegisters();
    elsewhere.close();
    window.activateWindow();
    WaitFor([&] { return window.isActiveWindow(); });
    boxes.nextName = QStringLiteral("message-register-reset");
    window.ResetRegisters();

    k5::ConfigSettings settings = window.Settings();
    CStatusDlg status(&settings, &window);
    Save(status, QStringLiteral("status-dialog"));
    status.close();

    CUserSettingsDlg userSettings(&settings, boxes, &window);
    Save(userSettings, QStringLiteral("user-settings-dialog"));
    userSettings.Field(UserSettingField::Cp)->setText(QStringLiteral("0.95"));
    boxes.nextName = QStringLiteral("message-validation-prompt");
    userSettings.accept();
    Save(userSettings, QStringLiteral("user-settings-refused"));
    userSettings.close();

    window.close();
    return failures == 0 ? 0 : 1;
}
