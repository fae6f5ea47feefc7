#pragma once

#include <array>
#include <cstdint>

namespace k5 {

// An amplifier register and its last known value.
struct RegisterSetting {
    uint16_t address = 0;
    uint32_t value = 0;

    friend bool operator==(const RegisterSetting&, const RegisterSetting&) = default;
};

// The ten parameters a user may set, in their fixed order.
struct UserSettings {
    uint32_t pmax = 0;
    uint32_t pc = 0;
    uint32_t ip = 0;
    uint32_t pref = 0;
    float cp = 0.0f;
    uint32_t ep = 0;
    uint32_t red = 0;
    uint32_t rec = 0;
    uint32_t conductanceMin = 0;
    uint32_t conductanceMax = 0;

    friend bool operator==(const UserSettings&, const UserSettings&) = default;
};

// Indexes of the register table.
inline constexpr int kEntryLeftConductance = 0;
inline constexpr int kEntryRightConductance = 1;
inline constexpr int kEntryStmax = 2;
inline constexpr int kEntryStpte = 3;

// Settings and results of both programs: the user parameters, the register fields of the
// last run, and the amplifier registers with their last known values. Never saved; every
// program start begins with the defaults.
class ConfigSettings {
public:
    ConfigSettings() { FillDefaults(); }
    virtual ~ConfigSettings() = default;

    void FillDefaults();

    // The ten user parameters are copied out and in as a unit; the calculated fields and
    // the register table are not part of them.
    UserSettings TakeUserSettings() const;
    void PutUserSettings(const UserSettings& in);
    void StoreCalculatedValues(uint32_t newCalcPmax, uint32_t newCalcPc, uint32_t newCalcIp);

    // An index outside 0..3 leaves the outputs (or the table) untouched.
    void GetRegisterEntry(int index, uint16_t& address, uint32_t& value) const;
    void SetRegisterValue(int index, uint32_t value);

    uint32_t pmax = 0;
    uint32_t pc = 0;
    uint32_t ip = 0;
    uint32_t calcPmax = 0;
    uint32_t calcPc = 0;
    uint32_t calcIp = 0;
    uint32_t pref = 0;
    float cp = 0.0f;
    uint32_t ep = 0;
    uint32_t red = 0;
    uint32_t rec = 0;
    uint32_t conductanceMin = 0;
    uint32_t conductanceMax = 0;
    std::array<RegisterSetting, 4> registers{};
};

}  // namespace k5
