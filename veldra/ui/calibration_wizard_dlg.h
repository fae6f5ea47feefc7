#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <memory>

#include "devlink/config_settings.h"
#include "qtkit/worker_sink.h"
#include "veldra/detection.h"
#include "veldra/page_flow.h"
#include "veldra/warm_up_page_model.h"
#include "veldra/wizard_link.h"
#include "worker/worker_observer.h"
#include "worker/worker_runner.h"

class QLabel;
class QPushButton;

namespace k5::qtkit {
class MessageBoxes;
}  // namespace k5::qtkit

namespace k5::veldra {

class CCalibrationPage;
class CComPortPage;
class CDetectPage;
class CPreparationPage;
class CWarmUpPage;
class CWelcomePage;
class WizardPage;

struct WizardOptions {
    // Scales every pause of the workers; demonstrations and tests shorten a run with it.
    double timeScale = 1.0;
    // The warm-up's countdown; the wizard counts ten minutes.
    int countdownMinutes = WarmUpPageModel::kMinutes;
    // Which COM ports exist; empty asks the system.
    PortProbe portExists{};
};

// The calibration wizard's frame: the header and picture, the six pages in a stack over the
// page rectangle, Previous, Next and Exit, and the one worker at a time (detection, warm-up,
// calibration) whose reports arrive as queued calls and become page changes, button states
// and port handling.
class CCalibrationWizardDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr unsigned kPageCount = veldra::kPageCount;

    explicit CCalibrationWizardDlg(qtkit::MessageBoxes& boxes, WizardOptions options = {},
                                   QWidget* parent = nullptr);
    // Stops a running worker (waiting for it) before the pages and the port go.
    ~CCalibrationWizardDlg() override;
    CCalibrationWizardDlg(const CCalibrationWizardDlg&) = delete;
    CCalibrationWizardDlg& operator=(const CCalibrationWizardDlg&) = delete;

    // Shows page `index` (1 to 6), hides the others and computes the button mask, which it
    // applies only when `apply` is set.
    void ShowPage(unsigned index, bool apply);
    // 4 Previous, 2 Next, 1 Exit.
    void EnableButtons(int mask);
    int ButtonMask() const;

    void OnNext();
    void OnPrevious();
    // Exit and the close box: the warm-up's cancel question while the warm-up worker runs,
    // otherwise the exit question.
    void OnCancel();

    // Cancels the running worker and waits for it; nothing when none runs.
    void StopWorker();
    // -20 dB and mute on the open port; the answers are ignored.
    void MuteAmplifier();

    // A worker's report, delivered on the frame's thread. Reports of a run that has been
    // stopped or has ended are dropped.
    void OnWorkerEvent(const WorkerEvent& event);
    // The warmed-up box of the preparation page.
    void OnWarmedUpChecked(bool warmedUp);
    // A warm-up event from the frame itself (15, after a confirmed cancel) or from the
    // warm-up page (17, the countdown has run out).
    void OnWarmUpEvent(uint32_t code);

    unsigned CurrentPage() const { return curPage_; }
    WizardPage* PageOnShow() const { return pageOnShow_; }
    bool WarmedUp() const { return warmedUp_; }
    int ComPort() const { return comPort_; }
    bool IsPortOpen() { return wizard_.Port().IsOpen() != 0; }
    bool WorkerRunning() const { return runner_.Running(); }
    uint64_t CurrentWorkerRun() const { return runner_.CurrentRun(); }

    CPreparationPage* PreparationPage() const { return preparationPage_; }
    CComPortPage* ComPortPage() const { return comPortPage_; }
    CDetectPage* DetectPage() const { return detectPage_; }
    CWarmUpPage* WarmUpPage() const { return warmUpPage_; }
    CCalibrationPage* CalibrationPage() const { return calibrationPage_; }

    // Every path that would cancel the dialog goes through the exit question.
    void reject() override;

protected:
    // Enter on a focused Previous, Next or Exit presses that button.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    friend class qtkit::QueuedWorkerSink<CCalibrationWizardDlg>;

    void BuildControls();
    void StartWorker(WizardWorker worker);
    void React(const WorkerEvent& event);
    void Forward(const WorkerEvent& event);
    void ShutDown();

    qtkit::MessageBoxes& boxes_;
    WizardOptions options_;

    WizardLink wizard_;
    ConfigSettings calib_;
    std::unique_ptr<WorkerObserver> sink_;
    WorkerRunner runner_;
    WizardWorker worker_ = WizardWorker::None;

    unsigned curPage_ = 0;
    int comPort_ = 0;
    bool warmedUp_ = false;

    std::array<WizardPage*, kPageCount> pages_{};
    WizardPage* pageOnShow_ = nullptr;
    CWelcomePage* welcomePage_ = nullptr;
    CPreparationPage* preparationPage_ = nullptr;
    CComPortPage* comPortPage_ = nullptr;
    CDetectPage* detectPage_ = nullptr;
    CWarmUpPage* warmUpPage_ = nullptr;
    CCalibrationPage* calibrationPage_ = nullptr;

    QLabel* header_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* exit_ = nullptr;
};

}  // namespace k5::veldra
