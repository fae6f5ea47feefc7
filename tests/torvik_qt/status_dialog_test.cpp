#include "torvik/ui/status_dialog.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <array>

#include "window_fixture.h"

namespace k5::torvik::test {
namespace {

using Fields = std::array<QString, 7>;

constexpr std::array<const char*, 7> kFieldNames = {
    "calcPmax", "calcPc", "calcIp", "leftConductance", "rightConductance", "stmax", "stpte"};

Fields Shown(const CStatusDlg& dialog) {
    Fields shown;
    for (size_t i = 0; i < kFieldNames.size(); ++i) {
        const auto* field = dialog.findChild<QLineEdit*>(QString::fromLatin1(kFieldNames[i]));
        EXPECT_TRUE(field->isReadOnly()) << kFieldNames[i];
        shown[i] = field->text();
    }
    return shown;
}

TEST(StatusDialog, BeforeAnyRunShowsTheDefaults) {
    const ConfigSettings settings;
    const CStatusDlg dialog(&settings);
    EXPECT_EQ(Shown(dialog), (Fields{"0", "0", "0", "0", "0", "D226D5DC", "0054228A"}));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Status"));
}

TEST(StatusDialog, WithoutARecordEveryFieldIsEmpty) {
    const CStatusDlg dialog(nullptr);
    EXPECT_EQ(Shown(dialog), Fields{});
}

TEST(StatusDialog, FieldsFromTwoToTheThirtyFirstShowAsNegativeAndHexHasNoPrefix) {
    ConfigSettings settings;
    settings.StoreCalculatedValues(0x80000000u, 0xFFFFFFFFu, 7);
    settings.SetRegisterValue(kEntryLeftConductance, 0xabcu);
    settings.SetRegisterValue(kEntryRightConductance, 0);
    settings.SetRegisterValue(kEntryStmax, 0x1u);
    settings.SetRegisterValue(kEntryStpte, 0xfedcba98u);
    const CStatusDlg dialog(&settings);
    EXPECT_EQ(Shown(dialog),
              (Fields{"-2147483648", "-1", "7", "ABC", "0", "00000001", "FEDCBA98"}));
}

TEST(StatusDialog, EnterClosesAsOkAndEscapeAsCancel) {
    const ConfigSettings settings;
    CStatusDlg first(&settings);
    first.show();
    QTest::keyClick(first.findChild<QLineEdit*>(QStringLiteral("stmax")), Qt::Key_Return);
    EXPECT_EQ(first.result(), QDialog::Accepted);
    EXPECT_FALSE(first.isVisible());

    CStatusDlg second(&settings);
    second.show();
    QTest::keyClick(&second, Qt::Key_Escape);
    EXPECT_EQ(second.result(), QDialog::Rejected);
    EXPECT_FALSE(second.isVisible());
}

class StatusAfterRuns : public WindowTest {};

TEST_F(StatusAfterRuns, ShowTheWorkedExampleThenOnlyTheNewInRangeReading) {
    StartSim({.left = 760, .right = 760});
    MakeWindow();
    OpenCom8();
    Button("startButton")->click();
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(Shown(CStatusDlg(&Window().Settings())),
              (Fields{"1520", "667", "839", "2F8", "2F8", "D347D5F0", "0054229B"}));

    // The left reading is now out of range: the run ends with code 3, and only the right
    // reading is taken over.
    sim_->Update([](sim::SimConfig& config) {
        config.left = 400;
        config.right = 800;
    });
    Button("startButton")->click();
    ASSERT_TRUE(WaitUntilIdle());
    ASSERT_TRUE(Log().endsWith(QStringLiteral("the 4ohms load is connected\n")));
    EXPECT_EQ(Shown(CStatusDlg(&Window().Settings())),
              (Fields{"1520", "667", "839", "2F8", "320", "D347D5F0", "0054229B"}));
}

}  // namespace
}  // namespace k5::torvik::test
