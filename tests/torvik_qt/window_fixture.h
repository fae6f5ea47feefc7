#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <optional>
#include <string>

#include "recording_boxes.h"
#include "sim/simulator.h"
#include "tests/support/scoped_env.h"
#include "torvik/ui/torvik_dialog.h"

namespace k5::torvik::test {

// A run's pauses shrink to 1/100, so a whole configuration takes well under a second.
inline constexpr double kFastTimeScale = 0.01;

// The main window with a report file in a scratch folder, and a simulated K5 mapped to COM8.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch_.isValid()); }

    void TearDown() override {
        window_.reset();  // joins any worker before the simulator goes
    }

    void StartSim(sim::SimConfig config = {}) {
        sim_ = sim::Simulator::Start(std::move(config));
        ASSERT_NE(sim_, nullptr);
        com8_.emplace("K5_COM8", sim_->DevicePath());
    }

    CTORVIKDlg& MakeWindow(double timeScale = kFastTimeScale) {
        window_ = std::make_unique<CTORVIKDlg>(
            boxes_, TorvikOptions{.reportPath = ReportPath(), .timeScale = timeScale});
        return *window_;
    }

    QString ReportPath() const { return scratch_.filePath(QStringLiteral("CfgLog.txt")); }

    CTORVIKDlg& Window() { return *window_; }
    QPushButton* Button(const char* name) {
        return window_->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    QString Log() const {
        return window_->findChild<QPlainTextEdit*>(QStringLiteral("logPane"))->toPlainText();
    }
    QString Status() const {
        return window_->findChild<QLabel*>(QStringLiteral("statusLabel"))->text();
    }
    void SelectPort(int port) {
        window_->findChild<QComboBox*>(QStringLiteral("portList"))->setCurrentIndex(port - 1);
    }

    // Selects COM8 and opens it.
    void OpenCom8() {
        SelectPort(8);
        Button("openButton")->click();
        ASSERT_EQ(Status(), QStringLiteral("Port Opened"));
    }

    // Lets queued calls arrive until the run has ended on its own.
    bool WaitUntilIdle(int timeoutMs = 10000) {
        return QTest::qWaitFor([this] { return !window_->IsRunning(); }, timeoutMs);
    }
    bool WaitForLog(const QString& text, int timeoutMs = 10000) {
        return QTest::qWaitFor([&] { return Log().contains(text); }, timeoutMs);
    }

    QTemporaryDir scratch_;
    RecordingBoxes boxes_;
    std::unique_ptr<sim::Simulator> sim_;
    std::optional<k5::test::ScopedEnv> com8_;
    std::unique_ptr<CTORVIKDlg> window_;
};

}  // namespace k5::torvik::test
