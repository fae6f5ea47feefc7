#include "devlink/config_settings.h"

#include <gtest/gtest.h>

namespace k5 {
namespace {

TEST(ConfigSettings, FreshRecordHoldsTheDefaults) {
    const ConfigSettings settings;
    EXPECT_EQ(settings.TakeUserSettings(),
              (UserSettings{500, 250, 36, 900, 0.8125f, 2, 5, 2, 550, 900}));
    EXPECT_EQ(settings.calcPmax, 0u);
    EXPECT_EQ(settings.calcPc, 0u);
    EXPECT_EQ(settings.calcIp, 0u);

    uint16_t address = 0;
    uint32_t value = 0;
    settings.GetRegisterEntry(2, address, value);
    EXPECT_EQ(address, 0xA108);
    EXPECT_EQ(value, 0xD226D5DCu);
    settings.GetRegisterEntry(0, address, value);
    EXPECT_EQ(address, 0xA110);
    EXPECT_EQ(value, 0u);
}

TEST(ConfigSettings, EntriesOutsideTheTableAreIgnored) {
    ConfigSettings settings;
    uint16_t address = 0x1234;
    uint32_t value = 0x5678;
    settings.GetRegisterEntry(4, address, value);
    settings.GetRegisterEntry(-1, address, value);
    EXPECT_EQ(address, 0x1234);
    EXPECT_EQ(value, 0x5678u);

    const auto before = settings.registers;
    settings.SetRegisterValue(4, 1);
    settings.SetRegisterValue(-1, 1);
    EXPECT_EQ(settings.registers, before);
}

TEST(ConfigSettings, PutUserSettingsLeavesResultsAlone) {
    ConfigSettings settings;
    settings.StoreCalculatedValues(1520, 667, 839);
    settings.SetRegisterValue(0, 760);
    const auto registers = settings.registers;

    settings.PutUserSettings(UserSettings{1, 2, 3, 4, 0.5f, 6, 7, 1, 10, 20});
    EXPECT_EQ(settings.TakeUserSettings(), (UserSettings{1, 2, 3, 4, 0.5f, 6, 7, 1, 10, 20}));
    EXPECT_EQ(settings.calcPmax, 1520u);
    EXPECT_EQ(settings.calcPc, 667u);
    EXPECT_EQ(settings.calcIp, 839u);
    EXPECT_EQ(settings.registers, registers);
}

}  // namespace
}  // namespace k5
