#include "torvik/user_setting_rules.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace k5::torvik {

namespace {

struct IntegerRule {
    uint32_t UserSettings::*member;
    uint32_t min;
    uint32_t max;
};

std::optional<IntegerRule> RuleFor(UserSettingField field) {
    constexpr uint32_t kAny = std::numeric_limits<uint32_t>::max();
    switch (field) {
        case UserSettingField::Pmax:
            return IntegerRule{&UserSettings::pmax, 0, kPowerSettingMax};
        case UserSettingField::Pc:
            return IntegerRule{&UserSettings::pc, 0, kPowerSettingMax};
        case UserSettingField::Ip:
            return IntegerRule{&UserSettings::ip, 0, kPowerSettingMax};
        case UserSettingField::Pref:
            return IntegerRule{&UserSettings::pref, 0, kPrefMax};
        case UserSettingField::Ep:
            return IntegerRule{&UserSettings::ep, 0, kEpMax};
        case UserSettingField::Red:
            return IntegerRule{&UserSettings::red, 0, kRedMax};
        case UserSettingField::Rec:
            return IntegerRule{&UserSettings::rec, 0, kRecMax};
        case UserSettingField::ConductanceMin:
            return IntegerRule{&UserSettings::conductanceMin, 0, kAny};
        case UserSettingField::ConductanceMax:
            return IntegerRule{&UserSettings::conductanceMax, 0, kAny};
        case UserSettingField::Cp:
            break;
    }
    return std::nullopt;
}

std::string_view Trim(std::string_view text) {
    const auto isSpace = [](char ch) { return ch == ' ' || ch == '\t'; };
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Digits only: a sign or anything after the number is refused rather than wrapped or cut off.
std::optional<uint32_t> ParseUnsigned(std::string_view text) {
    text = Trim(text);
    if (text.empty()) {
        return std::nullopt;
    }
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> ParseNumber(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// Bounds of the number prompt are printed with up to six significant digits.
std::string NumberRangePrompt(double min, double max) {
    return "Enter a number between " + FormatSettingNumber(min) + " and " +
           FormatSettingNumber(max) + ".";
}

std::string IntegerRangePrompt(uint32_t min, uint32_t max) {
    return "Enter an integer between " + std::to_string(min) + " and " + std::to_string(max) + ".";
}

}  // namespace

std::string FormatSettingNumber(double value) {
    // to_chars never consults the locale, unlike snprintf, whose decimal point follows the
    // C locale that the window toolkit sets from the desktop's.
    char text[64];
    const auto [end, ec] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    return ec == std::errc() ? std::string(text, end) : std::string();
}

std::optional<std::string> ApplyUserSetting(UserSettings& settings, UserSettingField field,
                                            std::string_view text) {
    if (const std::optional<IntegerRule> rule = RuleFor(field)) {
        const std::optional<uint32_t> value = ParseUnsigned(text);
        if (!value) {
            return "Enter a positive integer.";
        }
        if (*value < rule->min || *value > rule->max) {
            return IntegerRangePrompt(rule->min, rule->max);
        }
        settings.*(rule->member) = *value;
        return std::nullopt;
    }
    const std::optional<double> number = ParseNumber(text);
    if (!number) {
        return "Enter a number.";
    }
    if (std::fabs(*number) > std::numeric_limits<float>::max()) {
        return NumberRangePrompt(kCpMin, kCpMax);
    }
    const auto cp = static_cast<float>(*number);
    if (!(cp >= kCpMin && cp <= kCpMax)) {
        return NumberRangePrompt(kCpMin, kCpMax);
    }
    settings.cp = cp;
    return std::nullopt;
}

std::string AcceptedValuesPrompt(UserSettingField field) {
    const std::optional<IntegerRule> rule = RuleFor(field);
    if (!rule) {
        return NumberRangePrompt(kCpMin, kCpMax);
    }
    if (rule->max == std::numeric_limits<uint32_t>::max()) {
        return "Enter a positive integer.";
    }
    return IntegerRangePrompt(rule->min, rule->max);
}

}  // namespace k5::torvik
