#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <set>

#include "tests/support/scoped_env.h"
#include "veldra/event_codes.h"
#include "veldra/page_texts.h"
#include "veldra/ui/calibration_page.h"
#include "veldra/ui/com_port_page.h"
#include "veldra/ui/warm_up_page.h"
#include "wizard_fixture.h"

namespace k5::veldra::test {

namespace {

QStringList Items(const QComboBox& list) {
    QStringList items;
    for (int i = 0; i < list.count(); ++i) {
        items << list.itemText(i);
    }
    return items;
}

// --- Port selection --------------------------------------------------------------------------

TEST(ComPortPage, ListsTheExistingPortsAfterAutoDetectAndMapsItemsToPortNumbers) {
    std::set<unsigned> present{1, 3, 4};
    CComPortPage page(nullptr, [&](unsigned port) { return present.contains(port) ? 1 : 0; });
    page.Enter();
    EXPECT_EQ(Items(*page.PortList()),
              (QStringList{QStringLiteral("Auto Detect"), QStringLiteral("COM1"),
                           QStringLiteral("COM3"), QStringLiteral("COM4")}));
    EXPECT_EQ(page.GetSelectedPort(), 0);
    page.PortList()->setCurrentIndex(2);
    EXPECT_EQ(page.GetSelectedPort(), 3);

    // Every entry lists afresh and returns to "Auto Detect".
    present = {2, 15, 16};
    page.Enter();
    EXPECT_EQ(Items(*page.PortList()),
              (QStringList{QStringLiteral("Auto Detect"), QStringLiteral("COM2"),
                           QStringLiteral("COM15")}));
    EXPECT_EQ(page.PortList()->currentIndex(), 0);
    EXPECT_EQ(page.GetSelectedPort(), 0);
    page.PortList()->setCurrentIndex(2);
    EXPECT_EQ(page.GetSelectedPort(), 15);
}

TEST(ComPortPage, WithNoPortOnlyAutoDetectIsOffered) {
    CComPortPage page(nullptr, [](unsigned) { return 0; });
    page.Enter();
    EXPECT_EQ(Items(*page.PortList()), QStringList{QStringLiteral("Auto Detect")});
    EXPECT_EQ(page.GetSelectedPort(), 0);
}

TEST(ComPortPage, EachPortCarriesItsDeviceAsToolTip) {
    k5::test::ScopedEnv com2("K5_COM2", "/nonexistent/k5-adapter");
    k5::test::ScopedEnv com3("K5_COM3", "/dev/ttyUSB9");
    CComPortPage page(nullptr, [](unsigned port) { return port == 2 || port == 3 ? 1 : 0; });
    page.Enter();
    EXPECT_EQ(Items(*page.PortList()),
              (QStringList{QStringLiteral("Auto Detect"), QStringLiteral("COM2"),
                           QStringLiteral("COM3")}));
    EXPECT_EQ(page.PortList()->itemData(1, Qt::ToolTipRole).toString(),
              QStringLiteral("/nonexistent/k5-adapter - not present"));
    EXPECT_TRUE(page.PortList()
                    ->itemData(2, Qt::ToolTipRole)
                    .toString()
                    .startsWith(QStringLiteral("/dev/ttyUSB9")));
}

// --- Preparation -----------------------------------------------------------------------------

TEST_F(WizardTest, TheWarmedUpFlagFollowsEveryClickAndEveryEntryClearsIt) {
    MakeFrame();
    Click("nextButton");
    QCheckBox* box = Frame().PreparationPage()->WarmedUpBox();
    for (const bool expected : {true, false, true}) {
        QTest::mouseClick(box, Qt::LeftButton);
        EXPECT_EQ(Frame().WarmedUp(), expected);
    }
    Click("nextButton");
    EXPECT_TRUE(Frame().WarmedUp());  // leaving the page keeps the answer
    Click("previousButton");
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(Frame().WarmedUp());
}

TEST_F(WizardTest, HidingAndShowingTheWholeFrameIsNoNewEntry) {
    MakeFrame();
    Click("nextButton");
    QTest::mouseClick(Frame().PreparationPage()->WarmedUpBox(), Qt::LeftButton);
    ASSERT_TRUE(Frame().WarmedUp());
    Frame().hide();  // as when the owner window is minimised
    Frame().show();
    EXPECT_TRUE(Frame().PreparationPage()->WarmedUpBox()->isChecked());
    EXPECT_TRUE(Frame().WarmedUp());
}

TEST_F(WizardTest, TheNoteIsBoldAndRed) {
    MakeFrame();
    const auto* note =
        Frame().PreparationPage()->findChild<QLabel*>(QStringLiteral("preparationNote"));
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->font().bold());
    EXPECT_EQ(note->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(note->text(),
              QStringLiteral("d) KEEP K5 POWERED ON FOR 10 MINUTES BEFORE CALIBRATION."));
}

// --- Warm-up and calibration pages ------------------------------------------------------------

TEST(WarmUpPage, RunsPreciseTimersAndStopsThemOnAnOutcome) {
    for (const uint32_t outcome : {kWarmUpError, kWarmUpCancelled}) {
        CWarmUpPage page(nullptr);
        page.Enter();
        EXPECT_EQ(page.Model().ProgressLine(), kWarmUpInitializing);
        page.OnWarmUpEvent(kWarmUpRunning);
        EXPECT_EQ(page.Model().Countdown(), "10 : 00");
        EXPECT_TRUE(page.CountdownTimerActive());
        page.OnWarmUpEvent(outcome);
        EXPECT_FALSE(page.CountdownTimerActive());
        EXPECT_EQ(page.Model().Outcome(),
                  outcome == kWarmUpError ? kWarmUpErrorText : kWarmUpCancelledText);
        const auto* countdown = page.findChild<QLabel*>(QStringLiteral("warmUpCountdown"));
        ASSERT_NE(countdown, nullptr);
        EXPECT_EQ(countdown->text(), QStringLiteral("10 : 00"));
        EXPECT_EQ(countdown->alignment(), Qt::AlignCenter);
    }
}

TEST(WarmUpPage, TimersArePrecise) {
    CWarmUpPage page(nullptr);
    int precise = 0;
    for (const QTimer* timer : page.findChildren<QTimer*>(Qt::FindDirectChildrenOnly)) {
        precise += timer->timerType() == Qt::PreciseTimer ? 1 : 0;
    }
    EXPECT_EQ(precise, 2);
}

TEST(CalibrationPage, EveryEntryStartsAFreshLogAndBar) {
    CCalibrationPage page(nullptr);
    page.Enter();
    for (const uint32_t code : {kCalibInitializing, kCalibStepOk, kCalibMeasuring, kCalibTick}) {
        page.ShowCalibProgress(code);
    }
    EXPECT_EQ(page.ProgressBar()->value(), 15);
    page.Enter();
    EXPECT_EQ(page.Log(), kStartingCalibration);
    EXPECT_EQ(page.ProgressBar()->value(), 0);
    EXPECT_EQ(page.ProgressBar()->maximum(), 100);
}

}  // namespace

}  // namespace k5::veldra::test
