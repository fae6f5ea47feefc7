#pragma once

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "answering_boxes.h"
#include "sim/simulator.h"
#include "tests/support/scoped_env.h"
#include "veldra/event_codes.h"
#include "veldra/frame_reaction.h"
#include "veldra/ui/calibration_page.h"
#include "veldra/ui/calibration_wizard_dlg.h"
#include "veldra/ui/com_port_page.h"
#include "veldra/ui/detect_page.h"
#include "veldra/ui/preparation_page.h"
#include "veldra/ui/warm_up_page.h"

namespace k5::veldra::test {

// The workers' pauses shrink to 1/100; the warm-up counts no minutes, so its countdown ends
// one tick after it has shown 00 : 00.
inline constexpr double kFastTimeScale = 0.01;
inline constexpr int kAllButtons = kButtonPrevious | kButtonNext | kButtonExit;
inline constexpr int kPreviousExit = kButtonPrevious | kButtonExit;

// The wizard on the offscreen platform. COM1 to COM15 all name missing devices, so the
// machine's own serial ports never take part, until a test puts a simulated K5 on one.
class WizardTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch_.isValid());
        for (unsigned port = 1; port <= 15; ++port) {
            ports_.push_back(std::make_unique<k5::test::ScopedEnv>(
                "K5_COM" + std::to_string(port),
                scratch_.filePath(QStringLiteral("missing-com%1").arg(port)).toStdString()));
        }
    }

    void TearDown() override {
        frame_.reset();  // joins any worker before the simulators go
        sims_.clear();
        while (!ports_.empty()) {
            ports_.pop_back();  // newest first, so a port mapped twice gets its first value back
        }
    }

    // A simulated K5 on COM `port`.
    sim::Simulator& PutK5On(unsigned port, sim::SimConfig config = {}) {
        auto sim = sim::Simulator::Start(std::move(config));
        EXPECT_NE(sim, nullptr);
        ports_.push_back(std::make_unique<k5::test::ScopedEnv>("K5_COM" + std::to_string(port),
                                                               sim->DevicePath()));
        sims_.push_back(std::move(sim));
        return *sims_.back();
    }

    CCalibrationWizardDlg& MakeFrame(int countdownMinutes = 0) {
        frame_ = std::make_unique<CCalibrationWizardDlg>(
            boxes_,
            WizardOptions{.timeScale = kFastTimeScale, .countdownMinutes = countdownMinutes});
        frame_->show();
        return *frame_;
    }

    CCalibrationWizardDlg& Frame() { return *frame_; }
    QPushButton* Button(const char* name) {
        return frame_->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    // Clicks a button the way the technician can: only while it is enabled.
    void Click(const char* name) {
        QPushButton* button = Button(name);
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isEnabled()) << name;
        button->click();
    }

    // Welcome → preparation (ticking the warmed-up box if asked) → port selection, choosing
    // list item `item` (0: "Auto Detect"), then Next into the detection.
    void DetectFrom(int item, bool warmedUp = false) {
        Click("nextButton");
        if (warmedUp) {
            QTest::mouseClick(Frame().PreparationPage()->WarmedUpBox(), Qt::LeftButton);
        }
        Click("nextButton");
        ASSERT_EQ(Frame().CurrentPage(), 3u);
        Frame().ComPortPage()->PortList()->setCurrentIndex(item);
        Click("nextButton");
    }

    // Makes the frame, finds the K5 through "Auto Detect" and goes on into the warm-up, whose
    // countdown runs `countdownMinutes`; returns once its first command is through and only
    // Exit is enabled.
    void StartWarmUp(int countdownMinutes) {
        MakeFrame(countdownMinutes);
        DetectFrom(0);
        ASSERT_TRUE(WaitForDetection());
        Click("nextButton");
        ASSERT_TRUE(WaitFor([this] { return Frame().ButtonMask() == kButtonExit; }));
    }

    bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 15000) {
        return QTest::qWaitFor(condition, timeoutMs);
    }
    bool WaitForDetection() {
        return WaitFor([this] { return !frame_->WorkerRunning(); });
    }
    // Waits for the calibration to end on its own.
    bool WaitForCalibrationEnd() {
        return WaitFor([this] { return frame_->CurrentPage() == 6 && !frame_->WorkerRunning(); });
    }

    std::string DetectText() const { return frame_->DetectPage()->Text(); }
    const std::string& CalibrationLog() const { return frame_->CalibrationPage()->Log(); }
    int CalibrationBar() const { return frame_->CalibrationPage()->ProgressBar()->value(); }

    static int CountText(const sim::Simulator& sim, const std::string& text) {
        int count = 0;
        for (const sim::Request& request : sim.Requests()) {
            count += request.text == text ? 1 : 0;
        }
        return count;
    }

    QTemporaryDir scratch_;
    AnsweringBoxes boxes_;
    std::vector<std::unique_ptr<sim::Simulator>> sims_;
    std::vector<std::unique_ptr<k5::test::ScopedEnv>> ports_;
    std::unique_ptr<CCalibrationWizardDlg> frame_;
};

}  // namespace k5::veldra::test
