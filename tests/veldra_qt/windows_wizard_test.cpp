// The wizard's frame as the Windows build shows it, headless under Wine: its caption and
// icon, the way through the introductory pages, the port list built from the system's
// answer, and Escape, which does nothing. Whether the texts fit is judged on the real
// windows platform with the dialog font (the screenshots of scripts/wine-qt.sh): headless,
// Qt takes whichever font it finds first in the font folder. The pages that need an
// amplifier are driven by scripts/wine-qt.sh as well, against the native simulator.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include "answering_boxes.h"
#include "veldra/ui/calibration_wizard_dlg.h"
#include "veldra/ui/com_port_page.h"

namespace k5::veldra::test {
namespace {

QStringList Items(const QComboBox& list) {
    QStringList items;
    for (int i = 0; i < list.count(); ++i) {
        items << list.itemText(i);
    }
    return items;
}

class WindowsWizard : public ::testing::Test {
protected:
    AnsweringBoxes boxes_;
    // Only COM5 and COM12 exist, as the system would say.
    CCalibrationWizardDlg frame_{boxes_, WizardOptions{.portExists = [](unsigned port) {
                                     return port == 5 || port == 12 ? 1 : 0;
                                 }}};

    void Next() {
        auto* next = frame_.findChild<QPushButton*>(QStringLiteral("nextButton"));
        ASSERT_NE(next, nullptr);
        ASSERT_TRUE(next->isEnabled());
        next->click();
    }
};

TEST_F(WindowsWizard, StartsOnTheWelcomePageWithItsCaptionAndIconAndEscapeDoesNothing) {
    frame_.show();
    EXPECT_EQ(frame_.windowTitle(), QStringLiteral("K5 Calibration Application"));
    for (const int size : {16, 32, 48}) {
        EXPECT_FALSE(frame_.windowIcon().pixmap(size).isNull()) << size;
    }
    EXPECT_EQ(frame_.CurrentPage(), 1u);
    QTest::keyClick(&frame_, Qt::Key_Escape);
    EXPECT_TRUE(frame_.isVisible());
    EXPECT_EQ(frame_.CurrentPage(), 1u);
    EXPECT_TRUE(boxes_.Shown().empty());
}

TEST_F(WindowsWizard, NextLeadsToThePortListWhichOffersTheSystemsPorts) {
    frame_.show();
    for (unsigned page = 1; page <= 3; ++page) {
        ASSERT_EQ(frame_.CurrentPage(), page);
        if (page < 3) {
            Next();
        }
    }
    QComboBox& ports = *frame_.ComPortPage()->PortList();
    EXPECT_EQ(Items(ports), (QStringList{QStringLiteral("Auto Detect"), QStringLiteral("COM5"),
                                         QStringLiteral("COM12")}));
    EXPECT_EQ(frame_.ComPortPage()->GetSelectedPort(), 0);
    ports.setCurrentIndex(2);
    EXPECT_EQ(frame_.ComPortPage()->GetSelectedPort(), 12);
}

}  // namespace
}  // namespace k5::veldra::test
