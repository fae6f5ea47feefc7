// Renders every page of the calibration wizard to PNG files for review: the three
// introductory pages, the detection's outcome, the warm-up initialising and counting down,
// its cancel question and cancelled state, the calibration running and complete, and the
// exit question. Runs against an in-process simulated K5 on COM3.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <string>

#include "qtkit/message_boxes.h"
#include "sim/simulator.h"
#include "tools/snapshot.h"
#include "veldra/ui/calibration_page.h"
#include "veldra/ui/calibration_wizard_dlg.h"
#include "veldra/ui/preparation_page.h"
#include "veldra/ui/warm_up_page.h"

namespace {

using namespace k5::veldra;
namespace qtkit = k5::qtkit;

QString outputDir;
int failures = 0;

void Save(QWidget& widget, const QString& name) {
    if (!k5::tools::SaveSnapshot(widget, outputDir, name)) {
        ++failures;
    }
}

// Photographs each question as the wizard would show it and answers from a queue (Cancel
// when it is empty).
class PhotographedBoxes : public qtkit::MessageBoxes {
public:
    struct Answer {
        QString name;
        qtkit::MessageAnswer answer;
    };
    std::deque<Answer> answers;

    qtkit::MessageAnswer Show(QWidget* parent, const qtkit::MessageRequest& request) override {
        const auto box = qtkit::BuildMessageBox(parent, request);
        Answer next{QStringLiteral("question"), qtkit::MessageAnswer::Cancel};
        if (!answers.empty()) {
            next = answers.front();
            answers.pop_front();
        }
        Save(*box, next.name);
        return next.answer;
    }
};

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 60000) {
    const bool reached = QTest::qWaitFor(done, timeoutMs);
    if (!reached) {
        std::fprintf(stderr, "a wizard state was not reached in time\n");
        ++failures;
    }
    return reached;
}

void Click(CCalibrationWizardDlg& frame, const char* name) {
    auto* button = frame.findChild<QPushButton*>(QString::fromLatin1(name));
    if (button == nullptr || !button->isEnabled()) {
        std::fprintf(stderr, "%s is not there to press\n", name);
        ++failures;
        return;
    }
    button->click();
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    outputDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(outputDir);

    auto k5 = k5::sim::Simulator::Start({.left = 760, .right = 760});
    if (!k5) {
        std::fprintf(stderr, "the simulated K5 did not start\n");
        return 1;
    }
    // The K5 on COM3; no other port exists, whatever this machine has.
    for (int port = 1; port <= 15; ++port) {
        const std::string name = "K5_COM" + std::to_string(port);
        const std::string path =
            port == 3 ? k5->DevicePath()
                      : QDir(outputDir).filePath(QStringLiteral("no-port")).toStdString();
        setenv(name.c_str(), path.c_str(), 1);
    }

    PhotographedBoxes boxes;
    CCalibrationWizardDlg frame(boxes, WizardOptions{.timeScale = 0.1});
    Save(frame, QStringLiteral("1-welcome"));
    Click(frame, "nextButton");
    Save(frame, QStringLiteral("2-preparation"));
    frame.PreparationPage()->WarmedUpBox()->setChecked(true);
    Save(frame, QStringLiteral("2-preparation-warmed-up"));
    frame.PreparationPage()->WarmedUpBox()->setChecked(false);
    Click(frame, "nextButton");
    Save(frame, QStringLiteral("3-port-selection"));
    Click(frame, "nextButton");
    Save(frame, QStringLiteral("4-detecting"));
    WaitFor([&] { return !frame.WorkerRunning(); });
    Save(frame, QStringLiteral("4-detected"));

    Click(frame, "nextButton");
    Save(frame, QStringLiteral("5-warm-up-initialising"));
    WaitFor([&] { return frame.WarmUpPage()->Model().Countdown() == "09 : 58"; });
    Save(frame, QStringLiteral("5-warm-up-countdown"));
    boxes.answers.push_back({QStringLiteral("5-confirm-cancel"), qtkit::MessageAnswer::Ok});
    Click(frame, "exitButton");
    Save(frame, QStringLiteral("5-warm-up-cancelled"));

    Click(frame, "nextButton");
    WaitFor([&] { return frame.CalibrationPage()->ProgressBar()->value() >= 30; });
    Save(frame, QStringLiteral("6-calibrating"));
    WaitFor([&] { return !frame.WorkerRunning(); });
    Save(frame, QStringLiteral("6-calibration-complete"));

    boxes.answers.push_back({QStringLiteral("confirm-exit"), qtkit::MessageAnswer::Cancel});
    Click(frame, "exitButton");
    return failures == 0 ? 0 : 1;
}
