#include "torvik/ui/user_settings_dialog.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>

#include "recording_boxes.h"
#include "tests/torvik/german_numeric_locale.h"

namespace k5::torvik::test {
namespace {

struct FieldText {
    UserSettingField field;
    const char* text;
};

class UserSettingsDialog : public ::testing::Test {
protected:
    QString Text(CUserSettingsDlg& dialog, UserSettingField field) {
        return dialog.Field(field)->text();
    }
    void Type(CUserSettingsDlg& dialog, UserSettingField field, const char* text) {
        dialog.Field(field)->setText(QString::fromLatin1(text));
    }
    void ShowAndActivate(CUserSettingsDlg& dialog) {
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    }

    ConfigSettings settings_;
    RecordingBoxes boxes_;
};

TEST_F(UserSettingsDialog, ShowsTheDefaultsWithOkFocused) {
    CUserSettingsDlg dialog(&settings_, boxes_);
    ShowAndActivate(dialog);
    const std::vector<const char*> expected = {"500", "250", "36",     "900", "2",
                                               "5",   "2",   "0.8125", "550", "900"};
    for (size_t i = 0; i < kUserSettingOrder.size(); ++i) {
        EXPECT_EQ(Text(dialog, kUserSettingOrder[i]), QString::fromLatin1(expected[i])) << i;
    }
    EXPECT_EQ(QApplication::focusWidget(),
              dialog.findChild<QPushButton*>(QStringLiteral("okButton")));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("User Settings"));
}

TEST_F(UserSettingsDialog, WithoutARecordShowsTheUnexchangedValues) {
    CUserSettingsDlg dialog(nullptr, boxes_);
    EXPECT_EQ(Text(dialog, UserSettingField::Pmax), QStringLiteral("0"));
    EXPECT_EQ(Text(dialog, UserSettingField::ConductanceMax), QStringLiteral("0"));
    EXPECT_EQ(Text(dialog, UserSettingField::Cp), QStringLiteral("0.28125"));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

struct BoundCase {
    UserSettingField field;
    const char* text;
    const char* prompt;  // nullptr: accepted
};

class UserSettingsBound : public UserSettingsDialog,
                          public ::testing::WithParamInterface<BoundCase> {};

TEST_P(UserSettingsBound, AcceptsJustInsideAndRefusesJustOutside) {
    const BoundCase& bound = GetParam();
    const UserSettings before = settings_.TakeUserSettings();
    CUserSettingsDlg dialog(&settings_, boxes_);
    ShowAndActivate(dialog);
    Type(dialog, bound.field, bound.text);
    dialog.accept();

    if (bound.prompt == nullptr) {
        EXPECT_TRUE(boxes_.Shown().empty());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        CUserSettingsDlg reopened(&settings_, boxes_);
        EXPECT_EQ(Text(reopened, bound.field), QString::fromLatin1(bound.text));
        return;
    }
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].text, QString::fromLatin1(bound.prompt));
    EXPECT_EQ(boxes_.Shown()[0].icon, qtkit::MessageIcon::Exclamation);
    EXPECT_EQ(boxes_.Shown()[0].buttons, qtkit::MessageButtons::Ok);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(QApplication::focusWidget(), dialog.Field(bound.field));
    EXPECT_EQ(dialog.Field(bound.field)->selectedText(), QString::fromLatin1(bound.text));
    EXPECT_EQ(settings_.TakeUserSettings(), before);
}

constexpr const char* kPower = "Enter an integer between 0 and 1000.";
constexpr const char* kCpRange = "Enter a number between 0.28125 and 0.9.";

INSTANTIATE_TEST_SUITE_P(
    Fields, UserSettingsBound,
    ::testing::Values(BoundCase{UserSettingField::Pmax, "1000", nullptr},
                      BoundCase{UserSettingField::Pmax, "1001", kPower},
                      BoundCase{UserSettingField::Pc, "1001", kPower},
                      BoundCase{UserSettingField::Ip, "1001", kPower},
                      BoundCase{UserSettingField::Pref, "10000", nullptr},
                      BoundCase{UserSettingField::Pref, "0", nullptr},
                      BoundCase{UserSettingField::Pref, "10001",
                                "Enter an integer between 0 and 10000."},
                      BoundCase{UserSettingField::Ep, "15", nullptr},
                      BoundCase{UserSettingField::Ep, "16", "Enter an integer between 0 and 15."},
                      BoundCase{UserSettingField::Red, "7", nullptr},
                      BoundCase{UserSettingField::Red, "8", "Enter an integer between 0 and 7."},
                      BoundCase{UserSettingField::Rec, "8", "Enter an integer between 0 and 7."},
                      BoundCase{UserSettingField::Cp, "0.9", nullptr},
                      BoundCase{UserSettingField::Cp, "0.28125", nullptr},
                      BoundCase{UserSettingField::Cp, "0.28", kCpRange},
                      BoundCase{UserSettingField::Cp, "0.95", kCpRange},
                      BoundCase{UserSettingField::Cp, "abc", "Enter a number."},
                      BoundCase{UserSettingField::Ip, "-1", "Enter a positive integer."},
                      BoundCase{UserSettingField::ConductanceMin, "", "Enter a positive integer."},
                      BoundCase{UserSettingField::ConductanceMax, "4294967295", nullptr}));

TEST_F(UserSettingsDialog, TwoFailingFieldsReportOnlyTheFirstAndWriteNothing) {
    const UserSettings before = settings_.TakeUserSettings();
    CUserSettingsDlg dialog(&settings_, boxes_);
    ShowAndActivate(dialog);
    Type(dialog, UserSettingField::Pc, "100");  // valid, but must not be written either
    Type(dialog, UserSettingField::Ep, "16");
    Type(dialog, UserSettingField::Pmax, "1001");
    dialog.accept();

    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].text, QString::fromLatin1(kPower));
    EXPECT_EQ(QApplication::focusWidget(), dialog.Field(UserSettingField::Pmax));
    EXPECT_EQ(settings_.TakeUserSettings(), before);
}

TEST_F(UserSettingsDialog, CrossFieldValuesAreAcceptedAndOnlyUserSettingsChange) {
    settings_.calcPmax = 1234;
    settings_.SetRegisterValue(kEntryStmax, 0xCAFEF00Du);
    CUserSettingsDlg dialog(&settings_, boxes_);
    Type(dialog, UserSettingField::ConductanceMin, "900");
    Type(dialog, UserSettingField::ConductanceMax, "550");
    Type(dialog, UserSettingField::Pc, "800");  // above Pmax: no check across fields
    dialog.accept();

    EXPECT_TRUE(boxes_.Shown().empty());
    EXPECT_EQ(settings_.conductanceMin, 900u);
    EXPECT_EQ(settings_.conductanceMax, 550u);
    EXPECT_EQ(settings_.pc, 800u);
    EXPECT_EQ(settings_.calcPmax, 1234u);
    EXPECT_EQ(settings_.registers[kEntryStmax].value, 0xCAFEF00Du);
}

TEST_F(UserSettingsDialog, EscapeLeavesTheRecordAndReopeningShowsTheOldValues) {
    const UserSettings before = settings_.TakeUserSettings();
    {
        CUserSettingsDlg dialog(&settings_, boxes_);
        ShowAndActivate(dialog);
        Type(dialog, UserSettingField::Pmax, "700");
        Type(dialog, UserSettingField::Cp, "0.5");
        QTest::keyClick(dialog.Field(UserSettingField::Cp), Qt::Key_Escape);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    EXPECT_EQ(settings_.TakeUserSettings(), before);
    CUserSettingsDlg reopened(&settings_, boxes_);
    EXPECT_EQ(Text(reopened, UserSettingField::Pmax), QStringLiteral("500"));
    EXPECT_EQ(Text(reopened, UserSettingField::Cp), QStringLiteral("0.8125"));
}

// The desktop in German: Qt's default locale and the C library's decimal comma. The CP field,
// its prompt and what it accepts keep the point.
TEST_F(UserSettingsDialog, ThePointStaysUnderAGermanDesktop) {
    GermanNumericLocale german;
    if (!german.Active()) {
        GTEST_SKIP() << "no German locale could be installed or compiled";
    }
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    settings_.cp = 0.90625f;
    {
        CUserSettingsDlg dialog(&settings_, boxes_);
        ShowAndActivate(dialog);
        EXPECT_EQ(Text(dialog, UserSettingField::Cp), QStringLiteral("0.90625"));
        dialog.accept();  // the shown value is read back as it is shown
        ASSERT_EQ(boxes_.Shown().size(), 1u);
        EXPECT_EQ(boxes_.Shown()[0].text, QString::fromLatin1(kCpRange));

        Type(dialog, UserSettingField::Cp, "0,5");
        dialog.accept();
        ASSERT_EQ(boxes_.Shown().size(), 2u);
        EXPECT_EQ(boxes_.Shown()[1].text, QStringLiteral("Enter a number."));

        Type(dialog, UserSettingField::Cp, "0.5");
        dialog.accept();
        EXPECT_EQ(boxes_.Shown().size(), 2u);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    EXPECT_EQ(settings_.cp, 0.5f);
    CUserSettingsDlg reopened(&settings_, boxes_);
    EXPECT_EQ(Text(reopened, UserSettingField::Cp), QStringLiteral("0.5"));
    QLocale::setDefault(previous);
}

}  // namespace
}  // namespace k5::torvik::test
