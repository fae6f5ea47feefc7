#include "torvik/user_setting_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "german_numeric_locale.h"
#include "torvik/protection_math.h"

namespace k5::torvik {
namespace {

struct Case {
    UserSettingField field;
    const char* text;
    std::optional<std::string> prompt;  // empty: accepted
};

TEST(UserSettingRules, BoundsAndPrompts) {
    const Case cases[] = {
        {UserSettingField::Pmax, "1000", std::nullopt},
        {UserSettingField::Pmax, "1001", "Enter an integer between 0 and 1000."},
        {UserSettingField::Pmax, "0", std::nullopt},
        {UserSettingField::Pmax, "-1", "Enter a positive integer."},
        {UserSettingField::Pmax, "12abc", "Enter a positive integer."},
        {UserSettingField::Pmax, "", "Enter a positive integer."},
        {UserSettingField::Pc, "1001", "Enter an integer between 0 and 1000."},
        {UserSettingField::Ip, " 37 ", std::nullopt},
        {UserSettingField::Pref, "10000", std::nullopt},
        {UserSettingField::Pref, "0", std::nullopt},
        {UserSettingField::Pref, "10001", "Enter an integer between 0 and 10000."},
        {UserSettingField::Ep, "15", std::nullopt},
        {UserSettingField::Ep, "16", "Enter an integer between 0 and 15."},
        {UserSettingField::Red, "7", std::nullopt},
        {UserSettingField::Red, "8", "Enter an integer between 0 and 7."},
        {UserSettingField::Rec, "8", "Enter an integer between 0 and 7."},
        {UserSettingField::ConductanceMin, "4294967295", std::nullopt},
        {UserSettingField::ConductanceMax, "4294967296", "Enter a positive integer."},
        {UserSettingField::Cp, "0.9", std::nullopt},
        {UserSettingField::Cp, "0.28125", std::nullopt},
        {UserSettingField::Cp, "0.28", "Enter a number between 0.28125 and 0.9."},
        {UserSettingField::Cp, "0.95", "Enter a number between 0.28125 and 0.9."},
        {UserSettingField::Cp, "1e300", "Enter a number between 0.28125 and 0.9."},
        {UserSettingField::Cp, "abc", "Enter a number."},
        {UserSettingField::Cp, "nan", "Enter a number."},
        {UserSettingField::Cp, "0.5x", "Enter a number."},
    };
    for (const Case& c : cases) {
        UserSettings settings = ConfigSettings().TakeUserSettings();
        const UserSettings before = settings;
        const std::optional<std::string> prompt = ApplyUserSetting(settings, c.field, c.text);
        EXPECT_EQ(prompt, c.prompt) << "text '" << c.text << "'";
        if (prompt) {
            EXPECT_EQ(settings, before) << "a refused value must change nothing";
        } else {
            EXPECT_NE(settings, before) << "text '" << c.text << "'";
        }
    }
}

TEST(UserSettingRules, AcceptedValuesLandInTheirFields) {
    UserSettings settings;
    EXPECT_FALSE(ApplyUserSetting(settings, UserSettingField::Pref, "0"));
    EXPECT_FALSE(ApplyUserSetting(settings, UserSettingField::Rec, "3"));
    EXPECT_FALSE(ApplyUserSetting(settings, UserSettingField::ConductanceMin, "900"));
    EXPECT_FALSE(ApplyUserSetting(settings, UserSettingField::ConductanceMax, "550"));
    EXPECT_FALSE(ApplyUserSetting(settings, UserSettingField::Cp, "0.9"));
    EXPECT_EQ(settings.pref, 0u);
    EXPECT_EQ(settings.rec, 3u);
    EXPECT_EQ(settings.red, 0u);
    // No check across fields: the minimum may exceed the maximum.
    EXPECT_EQ(settings.conductanceMin, 900u);
    EXPECT_EQ(settings.conductanceMax, 550u);
    EXPECT_EQ(settings.cp, 0.9f);
}

// A desktop with a decimal comma must not change what the settings show, accept or ask for,
// nor the coefficients in the log.
TEST(UserSettingRules, NumbersKeepThePointUnderAGermanLocale) {
    test::GermanNumericLocale german;
    if (!german.Active()) {
        GTEST_SKIP() << "no German locale could be installed or compiled";
    }
    UserSettings settings = ConfigSettings().TakeUserSettings();
    EXPECT_EQ(ApplyUserSetting(settings, UserSettingField::Cp, "0.95"),
              "Enter a number between 0.28125 and 0.9.");
    EXPECT_EQ(ApplyUserSetting(settings, UserSettingField::Cp, "0,5"), "Enter a number.");
    EXPECT_EQ(ApplyUserSetting(settings, UserSettingField::Cp, "0.5"), std::nullopt);
    EXPECT_EQ(settings.cp, 0.5f);
    EXPECT_EQ(FormatSettingNumber(0.8125), "0.8125");
    EXPECT_EQ(FormatSettingNumber(static_cast<double>(kCpMax)), "0.9");
    EXPECT_EQ(FormatFixed5(1264.64), "1264.64000");
}

TEST(UserSettingRules, SettingNumbersAreWrittenAsPercentG) {
    for (const double value : {0.28125, 0.9, 0.8125, static_cast<double>(kCpMax), 0.5, 1.0, 0.0,
                               1234567.0, 0.000012345678, 1e-5}) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%g", value);
        EXPECT_EQ(FormatSettingNumber(value), expected) << value;
    }
}

}  // namespace
}  // namespace k5::torvik
