#include "torvik/ui/torvik_dialog.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <thread>
#include <vector>

#include "devlink/serial_comm.h"
#include "nesting_boxes.h"
#include "torvik/control_states.h"
#include "torvik/result_texts.h"
#include "torvik/ui/status_dialog.h"
#include "torvik/ui/user_settings_dialog.h"
#include "window_fixture.h"

namespace k5::torvik::test {
namespace {

using namespace std::chrono_literals;

const QString kIntroduction = QStringLiteral(
    "K5 Power AMP configuration program.\n\nBefore start the configuration process,please "
    "note:\n1) Connect PC with K5 using RS232 cable and make sure the connection is "
    "reliable.\n2) Connect K5 with 4ohms load on the output connector. \n3) During the "
    "configuration process,please do not disconnect the RS232. \n");

const QString kFirstLine = QStringLiteral("Start K5 Power AMP Configuration processing\n");
const QString kLastLineOfSuccess = QStringLiteral("Continuous power at 4ohms is: 197\n");
const QString kCancelled = QStringLiteral("\nCancelled\n");

enum class Phase { ClosedIdle, OpenIdle, Running };

// The enabled state of every control and the two captions, as one comparable value.
struct ControlStates {
    bool portList, openClose, testLink, userSettings, status, startStop, clear, on, off;
    QString openCaption, startCaption;

    bool operator==(const ControlStates&) const = default;
};

void PrintTo(const ControlStates& s, std::ostream* out) {
    *out << "list " << s.portList << " open " << s.openClose << " test " << s.testLink
         << " settings " << s.userSettings << " status " << s.status << " start " << s.startStop
         << " clear " << s.clear << " on " << s.on << " off " << s.off << " '"
         << s.openCaption.toStdString() << "' '" << s.startCaption.toStdString() << "'";
}

ControlStates Expected(Phase phase) {
    switch (phase) {
        case Phase::ClosedIdle:
            return {true, true, false, true, true, false, true, true, true, "Open", "Start"};
        case Phase::OpenIdle:
            return {false, true, true, true, true, true, true, true, true, "Close", "Start"};
        case Phase::Running:
            return {false, false, false, false, false, true, true, false, false, "Close", "Stop"};
    }
    return {};
}

// The window's table as plain logic: the same states from the port and the run alone.
TEST(TorvikControlStates, FollowFromThePortAndTheRun) {
    const struct {
        Phase phase;
        bool portOpen;
        bool running;
    } cases[] = {{Phase::ClosedIdle, false, false},
                 {Phase::OpenIdle, true, false},
                 {Phase::Running, true, true}};
    const auto text = [](std::string_view caption) {
        return QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
    };
    for (const auto& c : cases) {
        const torvik::ControlStates s = ControlStatesFor(c.portOpen, c.running);
        EXPECT_EQ((ControlStates{s.portList, s.openClose, s.testLink, s.userSettings, s.status,
                                 s.startStop, s.clear, s.burnIn, s.burnIn, text(s.openCaption),
                                 text(s.startCaption)}),
                  Expected(c.phase));
    }
}

class TorvikWindow : public WindowTest {
protected:
    ControlStates States() {
        return {window_->findChild<QComboBox*>(QStringLiteral("portList"))->isEnabled(),
                Button("openButton")->isEnabled(),
                Button("testLinkButton")->isEnabled(),
                Button("userSettingsButton")->isEnabled(),
                Button("statusButton")->isEnabled(),
                Button("startButton")->isEnabled(),
                Button("clearButton")->isEnabled(),
                Button("burnInOnButton")->isEnabled(),
                Button("burnInOffButton")->isEnabled(),
                Button("openButton")->text(),
                Button("startButton")->text()};
    }

    QByteArray ReadReport() {
        QFile file(ReportPath());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    }

    void WriteReport(const QByteArray& content) {
        QFile file(ReportPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    // Runs one configuration to its end, answering the save question with `answer`.
    void RunToCompletion(qtkit::MessageAnswer answer = qtkit::MessageAnswer::No) {
        boxes_.AnswerNext(answer);
        Button("startButton")->click();
        ASSERT_EQ(States(), Expected(Phase::Running));
        ASSERT_TRUE(WaitUntilIdle());
    }

    // Requests the simulator has seen whose bytes contain `text`.
    size_t RequestsContaining(const std::string& text) {
        size_t count = 0;
        for (const sim::Request& request : sim_->Requests()) {
            const std::string raw(request.raw.begin(), request.raw.end());
            count += raw.find(text) != std::string::npos ? 1 : 0;
        }
        return count;
    }
};

TEST_F(TorvikWindow, PhaseTableThroughASession) {
    StartSim({.left = 760, .right = 760});
    const k5::test::ScopedEnv missing(
        "K5_COM3", scratch_.filePath(QStringLiteral("no-such-tty")).toStdString());
    MakeWindow();
    EXPECT_EQ(Window().windowTitle(), QStringLiteral("K5 Post-AMP Config V1.3.0"));
    EXPECT_EQ(Log(), kIntroduction);
    EXPECT_EQ(kIntroduction.size(), 300);
    EXPECT_EQ(Status(), QString());
    EXPECT_EQ(States(), Expected(Phase::ClosedIdle));

    // A port that does not exist changes nothing but the status.
    SelectPort(3);
    Button("openButton")->click();
    EXPECT_EQ(Status(), QStringLiteral("Port error"));
    EXPECT_FALSE(Window().IsPortOpen());
    EXPECT_EQ(States(), Expected(Phase::ClosedIdle));

    OpenCom8();
    EXPECT_TRUE(Window().IsPortOpen());
    EXPECT_EQ(States(), Expected(Phase::OpenIdle));

    Button("testLinkButton")->click();
    EXPECT_EQ(Status(), QStringLiteral("Link OK"));
    EXPECT_EQ(States(), Expected(Phase::OpenIdle));

    RunToCompletion();
    EXPECT_EQ(States(), Expected(Phase::OpenIdle));
    EXPECT_TRUE(Window().IsPortOpen());

    Button("openButton")->click();
    EXPECT_EQ(Status(), QStringLiteral("Port Closed"));
    EXPECT_FALSE(Window().IsPortOpen());
    EXPECT_EQ(States(), Expected(Phase::ClosedIdle));
}

TEST_F(TorvikWindow, TestLinkWithASilentAmplifierSaysLinkError) {
    StartSim({.silent = true});
    MakeWindow();
    OpenCom8();
    Button("testLinkButton")->click();
    EXPECT_EQ(Status(), QStringLiteral("Link error"));
    EXPECT_EQ(States(), Expected(Phase::OpenIdle));
}

TEST_F(TorvikWindow, SuccessAnsweredYesAppendsTheReportToTheFile) {
    StartSim({.left = 760, .right = 760});
    MakeWindow();
    WriteReport("earlier report\n");
    OpenCom8();
    RunToCompletion(qtkit::MessageAnswer::Yes);

    const QString log = Log();
    EXPECT_TRUE(log.startsWith(kFirstLine)) << log.toStdString();
    EXPECT_TRUE(log.endsWith(kLastLineOfSuccess)) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("REG STMAX = 0XD347D5F0\n")));
    EXPECT_FALSE(log.contains(QStringLiteral("K5 Power AMP configuration program.")));

    ASSERT_EQ(boxes_.Shown().size(), 2u);
    const qtkit::MessageRequest& question = boxes_.Shown()[0];
    EXPECT_EQ(question.caption, QStringLiteral("Note"));
    EXPECT_EQ(question.text, QStringLiteral("Save the configuration report?"));
    EXPECT_EQ(question.icon, qtkit::MessageIcon::Question);
    EXPECT_EQ(question.buttons, qtkit::MessageButtons::YesNo);
    const qtkit::MessageRequest& saved = boxes_.Shown()[1];
    EXPECT_EQ(saved.caption, QStringLiteral("Note"));
    EXPECT_EQ(saved.text, QStringLiteral("Save data OK"));
    EXPECT_EQ(saved.icon, qtkit::MessageIcon::None);

    // Earlier reports stay in front; the new one is a line feed, the dated header and the
    // pane's text as it stands.
    const QByteArray report = ReadReport();
    ASSERT_TRUE(report.startsWith("earlier report\n"));
    const QString added = QString::fromUtf8(report.mid(int(qstrlen("earlier report\n"))));
    static const QRegularExpression header(QStringLiteral(
        "^\\nConfiguration Process log - (\\d{4})\\.([1-9]|1[0-2])\\.([1-9]|[12]\\d|3[01]) "
        "(\\d|1\\d|2[0-3]):(\\d|[1-5]\\d):(\\d|[1-5]\\d):\\r\\n"));
    const QRegularExpressionMatch match = header.match(added);
    ASSERT_TRUE(match.hasMatch()) << added.left(80).toStdString();
    EXPECT_EQ(added.mid(match.capturedLength()), log);
    EXPECT_EQ(States(), Expected(Phase::OpenIdle));
}

TEST_F(TorvikWindow, SuccessAnsweredNoLeavesTheFileUntouched) {
    StartSim({.left = 760, .right = 760});
    MakeWindow();
    WriteReport("earlier report\n");
    OpenCom8();
    RunToCompletion(qtkit::MessageAnswer::No);

    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].text, QStringLiteral("Save the configuration report?"));
    EXPECT_EQ(ReadReport(), QByteArray("earlier report\n"));
    EXPECT_TRUE(Log().endsWith(kLastLineOfSuccess));
    // The log outgrows the pane; each append scrolls on, so the last line stays in view.
    const QScrollBar* bar =
        Window().findChild<QPlainTextEdit*>(QStringLiteral("logPane"))->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(States(), Expected(Phase::OpenIdle));
    EXPECT_TRUE(Window().IsPortOpen());
}

TEST_F(TorvikWindow, AReportThatCannotBeCreatedSaysFailedAndTheWindowGoesIdle) {
    StartSim({.left = 760, .right = 760});
    window_ = std::make_unique<CTORVIKDlg>(
        boxes_, TorvikOptions{.reportPath = scratch_.filePath(QStringLiteral("gone/CfgLog.txt")),
                              .timeScale = kFastTimeScale});
    OpenCom8();
    RunToCompletion(qtkit::MessageAnswer::Yes);

    ASSERT_EQ(boxes_.Shown().size(), 2u);
    EXPECT_EQ(boxes_.Shown()[1].caption, QStringLiteral("Note"));
    EXPECT_EQ(boxes_.Shown()[1].text, QStringLiteral("Failed"));
    EXPECT_EQ(boxes_.Shown()[1].icon, qtkit::MessageIcon::Exclamation);
    EXPECT_EQ(States(), Expected(Phase::OpenIdle));
}

struct FailureCase {
    const char* name;
    sim::SimConfig config;
    const char* text;
};

class RunFailure : public TorvikWindow, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(RunFailure, AppendsExactlyItsTextAndReturnsToIdle) {
    StartSim(GetParam().config);
    MakeWindow();
    OpenCom8();
    RunToCompletion();

    const QString text = QString::fromLatin1(GetParam().text);
    EXPECT_TRUE(Log().endsWith(text)) << Log().toStdString();
    EXPECT_EQ(Log().count(text), 1);
    EXPECT_TRUE(boxes_.Shown().empty());
    EXPECT_EQ(States(), Expected(Phase::OpenIdle));
}

INSTANTIATE_TEST_SUITE_P(
    Codes, RunFailure,
    ::testing::Values(
        FailureCase{"NoK5",
                    {.model = "K3"},
                    "\nCan not find K5 unit,please check connection and try again.\n"},
        FailureCase{"PowerNeitherOnNorOff",
                    {.powerAnswer = "Maybe"},
                    "\nK5 connection error,please check connection and try again.\n"},
        FailureCase{"LeftOutOfRange",
                    {.left = 400, .right = 760},
                    "\nGet wrong cofficient value,please check whether the 4ohms load is "
                    "connected\n"},
        FailureCase{"SixtyApart",
                    {.left = 700, .right = 760},
                    "\nThe difference between left and right conductance is too large,please "
                    "check the unit and try again\n"},
        FailureCase{"WritesRefused",
                    {.refuseWrites = true},
                    "\nSet AMP register value error,please check connection and try again\n"}),
    [](const ::testing::TestParamInfo<FailureCase>& param) { return param.param.name; });

TEST_F(TorvikWindow, StopInAnExchangePauseEndsWithCancelledAndIgnoresTheLateCompletion) {
    // The standby switch-on pause lasts 18 s scaled to 0.9 s; a cancel there fails the
    // exchange, and the worker still sends its failure code after Stop.
    StartSim({.standby = true});
    MakeWindow(0.05);
    OpenCom8();
    Button("startButton")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return RequestsContaining("Main.Power=On") > 0; }, 10000));

    Button("startButton")->click();
    EXPECT_FALSE(Window().IsRunning());
    EXPECT_EQ(States(), Expected(Phase::OpenIdle));
    EXPECT_TRUE(Log().endsWith(QStringLiteral("\nInitializing K5...") + kCancelled))
        << Log().toStdString();

    // Let the stopped run's completion arrive: it must change nothing.
    QTest::qWait(100);
    EXPECT_TRUE(Log().endsWith(kCancelled));
    EXPECT_FALSE(Log().contains(QStringLiteral("connection error")));
    EXPECT_TRUE(boxes_.Shown().empty());
    EXPECT_EQ(States(), Expected(Phase::OpenIdle));
}

TEST_F(TorvikWindow, StopAtAnyMomentJoinsTheLoggingWorkerAndEndsWithCancelled) {
    StartSim({.left = 760, .right = 760});
    MakeWindow();
    OpenCom8();
    for (const int afterMs : {0, 1, 5, 15, 40, 80}) {
        SCOPED_TRACE(afterMs);
        Button("startButton")->click();
        QTest::qWait(afterMs);
        if (!Window().IsRunning()) {
            continue;  // finished before the Stop: nothing to stop
        }
        Button("startButton")->click();
        EXPECT_FALSE(Window().IsRunning());
        EXPECT_TRUE(Log().startsWith(kFirstLine)) << Log().toStdString();
        EXPECT_TRUE(Log().endsWith(kCancelled)) << Log().toStdString();
        QTest::qWait(20);
        EXPECT_TRUE(Log().endsWith(kCancelled)) << Log().toStdString();
        EXPECT_EQ(States(), Expected(Phase::OpenIdle));
    }
    EXPECT_TRUE(boxes_.Shown().empty());
}

TEST_F(TorvikWindow, AStopAfterTheRunsLastPauseDoesNotEndTheNextRun) {
    StartSim({.left = 760, .right = 760});
    MakeWindow();
    OpenCom8();
    Button("startButton")->click();
    // Without letting the window see the completion: wait until the amplifier has had the
    // lock code and the worker is past its last pause, then Stop.
    ASSERT_TRUE(sim_->WaitForRequests(1, 5s));
    const auto locked = [&] {
        const auto requests = sim_->Requests();
        return !requests.empty() && requests.back().kind == sim::RequestKind::WriteRegister &&
               requests.back().value == 0x94D16E3Bu;
    };
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!locked() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(locked());
    std::this_thread::sleep_for(100ms);
    Button("startButton")->click();
    ASSERT_TRUE(Log().endsWith(kCancelled));

    RunToCompletion(qtkit::MessageAnswer::No);
    EXPECT_TRUE(Log().endsWith(kLastLineOfSuccess)) << Log().toStdString();
    ASSERT_EQ(boxes_.Shown().size(), 1u);
}

TEST_F(TorvikWindow, ClearDuringARunEmptiesThePaneForTheLaterLines) {
    StartSim({.left = 760, .right = 760});
    MakeWindow(0.05);
    OpenCom8();
    Button("startButton")->click();
    ASSERT_TRUE(WaitForLog(QStringLiteral("Coeff0")));
    ASSERT_TRUE(Window().IsRunning());
    EXPECT_TRUE(Button("clearButton")->isEnabled());
    Button("clearButton")->click();
    EXPECT_EQ(Log(), QString());

    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_FALSE(Log().contains(QStringLiteral("Start K5")));
    EXPECT_FALSE(Log().contains(QStringLiteral("Coeff0")));
    EXPECT_TRUE(Log().endsWith(kLastLineOfSuccess));
}

TEST_F(TorvikWindow, ClosingDuringARunStopsTheWorkerThenFreesThePort) {
    StartSim({.left = 760, .right = 760});
    MakeWindow(0.05);
    Window().show();
    OpenCom8();
    Button("startButton")->click();
    ASSERT_TRUE(WaitForLog(QStringLiteral("Get high signal conductance")));

    EXPECT_TRUE(Window().close());
    EXPECT_FALSE(Window().isVisible());
    EXPECT_FALSE(Window().IsRunning());
    EXPECT_FALSE(Window().IsPortOpen());
    QTest::qWait(50);
    EXPECT_TRUE(boxes_.Shown().empty());

    // The port is exclusive while open: another record can have it only once it is closed.
    CSerialComm other;
    other.SetDevicePathOverride(sim_->DevicePath());
    EXPECT_EQ(other.Open(), 1) << other.LastErrorText();
    other.Close();
}

TEST_F(TorvikWindow, EscapeAndEnterDoNothing) {
    StartSim({.left = 760, .right = 760});
    MakeWindow();
    Window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window()));
    OpenCom8();

    QTest::keyClick(&Window(), Qt::Key_Escape);
    EXPECT_TRUE(Window().isVisible());

    // The Start button has the focus: Enter must not press it.
    Button("startButton")->setFocus();
    QTest::keyClick(Button("startButton"), Qt::Key_Return);
    QTest::keyClick(Button("startButton"), Qt::Key_Enter);
    EXPECT_FALSE(Window().IsRunning());
    EXPECT_TRUE(Window().isVisible());
    EXPECT_TRUE(Window().IsPortOpen());
}

TEST_F(TorvikWindow, BurnInButtonsSendTheirFramesOnlyWithThePortOpen) {
    StartSim({.left = 760, .right = 760});
    MakeWindow();

    Button("burnInOnButton")->click();
    Button("burnInOffButton")->click();
    EXPECT_FALSE(sim_->WaitForRequests(1, 50ms));

    OpenCom8();
    Button("burnInOnButton")->click();
    ASSERT_TRUE(sim_->WaitForRequests(1, 1s));
    EXPECT_EQ(sim_->Requests().back().raw,
              (std::vector<uint8_t>{0xFF, 0x04, 0x02, 0x02, 0xFF, 0x55, 0x5B}));
    EXPECT_TRUE(sim_->State().burnIn);

    Button("burnInOffButton")->click();
    ASSERT_TRUE(sim_->WaitForRequests(2, 1s));
    EXPECT_EQ(sim_->Requests().back().raw,
              (std::vector<uint8_t>{0xFF, 0x04, 0x02, 0x02, 0xFF, 0xAA, 0xB0}));
    EXPECT_FALSE(sim_->State().burnIn);
    EXPECT_TRUE(boxes_.Shown().empty());
}

TEST_F(TorvikWindow, TheDialogsEditAndShowTheWindowsOwnRecord) {
    MakeWindow();
    Window().show();
    // Each dialog runs modally; answer it once it is up.
    QString shownStmax;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<CUserSettingsDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->Field(UserSettingField::Pmax)->setText(QStringLiteral("640"));
        dialog->accept();
    });
    Button("userSettingsButton")->click();
    EXPECT_EQ(Window().Settings().pmax, 640u);

    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<CStatusDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        shownStmax = dialog->findChild<QLineEdit*>(QStringLiteral("stmax"))->text();
        dialog->reject();
    });
    Button("statusButton")->click();
    EXPECT_EQ(shownStmax, QStringLiteral("D226D5DC"));
}

class RegisterResetKey : public TorvikWindow {
protected:
    // The window over boxes that can act while a box is open.
    void MakeNestingWindow() {
        window_ = std::make_unique<CTORVIKDlg>(
            nesting_, TorvikOptions{.reportPath = ReportPath(), .timeScale = kFastTimeScale});
    }

    void PressAltD() {
        Window().show();
        QApplication::setActiveWindow(&Window());
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
        QTest::keyClick(&Window(), Qt::Key_D, Qt::AltModifier);
    }

    NestingBoxes nesting_;
};

TEST_F(RegisterResetKey, WithThePortClosedDoesNothing) {
    StartSim({.left = 760, .right = 760});
    MakeWindow();
    PressAltD();
    EXPECT_TRUE(boxes_.Shown().empty());
    EXPECT_FALSE(sim_->WaitForRequests(1, 50ms));
}

TEST_F(RegisterResetKey, WithAnAnsweringAmplifierSaysOk) {
    StartSim({.left = 760, .right = 760});
    MakeWindow();
    OpenCom8();
    PressAltD();
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].caption, QStringLiteral("Note"));
    EXPECT_EQ(boxes_.Shown()[0].text, QStringLiteral("Set AMP regsiters to default values: OK"));
    EXPECT_EQ(boxes_.Shown()[0].icon, qtkit::MessageIcon::None);
    const sim::Request request = sim_->Requests().back();
    EXPECT_EQ(request.kind, sim::RequestKind::WriteRegister);
    EXPECT_EQ(request.address, 0xFFFF);
    EXPECT_EQ(request.value, 0x3C71D2A9u);
}

TEST_F(RegisterResetKey, WithoutAnAmplifierSaysError) {
    StartSim({.silent = true});
    MakeWindow();
    OpenCom8();
    PressAltD();
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].text,
              QStringLiteral("Set AMP regsiters to default values: Error!"));
    EXPECT_EQ(boxes_.Shown()[0].icon, qtkit::MessageIcon::Exclamation);
}

size_t RestoreWrites(const sim::Simulator& sim) {
    size_t count = 0;
    for (const sim::Request& request : sim.Requests()) {
        count += request.kind == sim::RequestKind::WriteRegister && request.value == 0x3C71D2A9u;
    }
    return count;
}

// One press, one reset: the key pressed again while its result box is open, or held so that
// it repeats, resets nothing more.
TEST_F(RegisterResetKey, OnePressResetsOnce) {
    StartSim({.left = 760, .right = 760});
    MakeNestingWindow();
    OpenCom8();
    nesting_.WhileShowing([&] { QTest::keyClick(&Window(), Qt::Key_D, Qt::AltModifier); });
    PressAltD();
    EXPECT_EQ(nesting_.Shown().size(), 1u);
    EXPECT_EQ(RestoreWrites(*sim_), 1u);

    // Held down: the first press resets, its repeats do not.
    QTest::simulateEvent(&Window(), true, Qt::Key_D, Qt::AltModifier, QString(), false);
    for (int i = 0; i < 3; ++i) {
        QTest::simulateEvent(&Window(), true, Qt::Key_D, Qt::AltModifier, QString(), true);
    }
    QTest::simulateEvent(&Window(), false, Qt::Key_D, Qt::AltModifier, QString(), false);
    EXPECT_EQ(nesting_.Shown().size(), 2u);
    EXPECT_EQ(RestoreWrites(*sim_), 2u);

    // Once the box has been closed the key works again.
    PressAltD();
    EXPECT_EQ(nesting_.Shown().size(), 3u);
    EXPECT_EQ(RestoreWrites(*sim_), 3u);
}

// Alt+D is the address-bar key of every browser: pressed while another window is active,
// the tool comes to the front and asks, and only Yes resets.
TEST_F(RegisterResetKey, PressedElsewhereAsksFirstAndOnlyYesResets) {
    const QString question = QStringLiteral(
        "Alt+D was pressed in another program.\nSet AMP registers to default values?");
    const QString ok = QStringLiteral("Set AMP regsiters to default values: OK");
    struct Case {
        const char* name;
        bool elsewhere;
        qtkit::MessageAnswer answer;
        QStringList texts;
        size_t requests;
    };
    const std::vector<Case> cases = {
        {"in the tool: no question", false, qtkit::MessageAnswer::No, {ok}, 1},
        {"elsewhere, No", true, qtkit::MessageAnswer::No, {question}, 0},
        {"elsewhere, Yes", true, qtkit::MessageAnswer::Yes, {question, ok}, 1},
    };
    StartSim({.left = 760, .right = 760});
    MakeWindow();
    OpenCom8();
    QWidget other;
    other.show();
    for (const Case& c : cases) {
        boxes_.Forget();
        const size_t before = sim_->Requests().size();
        if (c.elsewhere) {
            boxes_.AnswerNext(c.answer);
            other.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&other)) << c.name;
            QTest::keyClick(&other, Qt::Key_D, Qt::AltModifier);
            EXPECT_TRUE(QTest::qWaitForWindowActive(&Window())) << c.name;
        } else {
            PressAltD();
        }
        QStringList texts;
        for (const qtkit::MessageRequest& box : boxes_.Shown()) {
            texts.append(box.text);
        }
        EXPECT_EQ(texts.join('|').toStdString(), c.texts.join('|').toStdString()) << c.name;
        if (c.elsewhere) {
            // Typing meant for the other program must not answer it.
            EXPECT_TRUE(boxes_.Shown().front().unasked) << c.name;
        }
        const std::vector<sim::Request> requests = sim_->Requests();
        ASSERT_EQ(requests.size() - before, c.requests) << c.name;
        if (c.requests > 0) {
            EXPECT_EQ(requests.back().kind, sim::RequestKind::WriteRegister) << c.name;
            EXPECT_EQ(requests.back().address, 0xFFFF) << c.name;
            EXPECT_EQ(requests.back().value, 0x3C71D2A9u) << c.name;
        }
    }
}

TEST_F(RegisterResetKey, DuringARunDoesNothing) {
    StartSim({.standby = true});
    MakeWindow(0.05);
    OpenCom8();
    Button("startButton")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return RequestsContaining("Main.Power=On") > 0; }, 10000));
    PressAltD();
    EXPECT_TRUE(boxes_.Shown().empty());
    for (const sim::Request& request : sim_->Requests()) {
        EXPECT_NE(request.value, 0x3C71D2A9u);
    }
    Button("startButton")->click();
}

TEST_F(TorvikWindow, PortItemsKeepTheirNamesAndShowTheirDeviceAsToolTip) {
    StartSim();
    k5::test::ScopedEnv com5("K5_COM5", "/nonexistent/k5-adapter");
    MakeWindow();
    const auto* list = Window().findChild<QComboBox*>(QStringLiteral("portList"));
    ASSERT_EQ(list->count(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(list->itemText(i), QStringLiteral("COM%1").arg(i + 1));
    }
    EXPECT_EQ(list->itemData(4, Qt::ToolTipRole).toString(),
              QStringLiteral("/nonexistent/k5-adapter - not present"));
    EXPECT_EQ(list->itemData(7, Qt::ToolTipRole).toString(),
              QString::fromStdString(sim_->DevicePath() + " - pseudo-terminal"));
}

}  // namespace
}  // namespace k5::torvik::test
