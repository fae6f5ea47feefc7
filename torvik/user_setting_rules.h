#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "devlink/config_settings.h"

namespace k5::torvik {

// The ten user parameters as the settings dialog exchanges them, in the order it validates
// them (and reports the first that fails).
enum class UserSettingField {
    Pmax,
    Pc,
    Ip,
    Pref,
    Ep,
    Red,
    Rec,
    Cp,
    ConductanceMin,
    ConductanceMax
};

inline constexpr std::array<UserSettingField, 10> kUserSettingOrder = {
    UserSettingField::Pmax,
    UserSettingField::Pc,
    UserSettingField::Ip,
    UserSettingField::Pref,
    UserSettingField::Ep,
    UserSettingField::Red,
    UserSettingField::Rec,
    UserSettingField::Cp,
    UserSettingField::ConductanceMin,
    UserSettingField::ConductanceMax,
};

// Inclusive bounds. The conductance range fields take any unsigned value.
inline constexpr uint32_t kPowerSettingMax = 1000;  // pmax, pc, ip
inline constexpr uint32_t kPrefMax = 10000;
inline constexpr uint32_t kEpMax = 15;
inline constexpr uint32_t kRedMax = 7;
inline constexpr uint32_t kRecMax = 7;
inline constexpr float kCpMin = 0.28125f;
inline constexpr float kCpMax = 0.9f;  // the float nearest to 0.9

// A number in its shortest form with up to six significant digits, as printf's "%g" writes it
// in the C locale: always with a point, whatever the locale of the process or the desktop.
std::string FormatSettingNumber(double value);

// Reads `text` as the value of `field` and stores it in `settings`. A refused text leaves
// `settings` as it was and returns the prompt to show, bounds filled in
// ("Enter an integer between 0 and 1000.").
std::optional<std::string> ApplyUserSetting(UserSettings& settings, UserSettingField field,
                                            std::string_view text);

// What `field` accepts, in the words of its prompt: "Enter an integer between 0 and 1000.",
// "Enter a number between 0.28125 and 0.9."; "Enter a positive integer." for the conductance
// range fields, which take any unsigned value.
std::string AcceptedValuesPrompt(UserSettingField field);

}  // namespace k5::torvik
