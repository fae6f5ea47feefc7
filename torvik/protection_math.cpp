#include "torvik/protection_math.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

namespace k5::torvik {

namespace {

constexpr double kTwoTo63 = 9223372036854775808.0;

// Row bounds of the clip-code table, from code 0x1F down to 0x01, then the closing 1.0 row.
// Every bound is an exact binary fraction, so comparing the float setting with them is exact.
struct ClipRow {
    double bound;
    uint8_t code;
};

constexpr std::array<ClipRow, 32> kClipRows = {{
    {0.28125, 0x1F},  {0.3125, 0x1E},   {0.34375, 0x1D},  {0.375, 0x1C},    {0.40625, 0x1B},
    {0.4375, 0x1A},   {0.46875, 0x19},  {0.5, 0x18},      {0.53125, 0x17},  {0.5625, 0x16},
    {0.59375, 0x15},  {0.625, 0x14},    {0.65625, 0x13},  {0.6875, 0x12},   {0.71875, 0x11},
    {0.75, 0x10},     {0.765625, 0x0F}, {0.78125, 0x0E},  {0.796875, 0x0D}, {0.8125, 0x0C},
    {0.828125, 0x0B}, {0.84375, 0x0A},  {0.859375, 0x09}, {0.875, 0x08},    {0.890625, 0x07},
    {0.90625, 0x06},  {0.921875, 0x05}, {0.9375, 0x04},   {0.953125, 0x03}, {0.96875, 0x02},
    {0.984375, 0x01}, {1.0, 0x01},
}};

constexpr uint8_t kClipCodeAboveTable = 0x01;

template <typename... Args>
std::string Format(const char* format, Args... args) {
    char buffer[160];
    const int length = std::snprintf(buffer, sizeof buffer, format, args...);
    if (length < 0) {
        return {};
    }
    if (static_cast<size_t>(length) < sizeof buffer) {
        return std::string(buffer, static_cast<size_t>(length));
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, args...);
    text.resize(static_cast<size_t>(length));
    return text;
}

}  // namespace

uint32_t TruncToRegister(double x) {
    if (!std::isfinite(x) || std::fabs(x) >= kTwoTo63) {
        return 0;
    }
    const auto whole = static_cast<int64_t>(x);
    return static_cast<uint32_t>(static_cast<uint64_t>(whole));
}

uint32_t AverageConductance(uint32_t left, uint32_t right) {
    // Readings are 12-bit averages, so the sum cannot wrap.
    return (left + right) >> 1;
}

bool ConductanceImbalanced(uint32_t left, uint32_t right) {
    const uint32_t difference = left > right ? left - right : right - left;
    return difference >= 60;
}

Coefficients CalculateCoefficients(uint32_t avg) {
    const double a = static_cast<double>(avg);
    Coefficients result;
    result.c = 1.0 - (a - 760.0) * 0.0005;
    result.coeff2 = a * 1.664 * result.c;
    result.coeff1 = 1.564 * result.coeff2 * result.c;
    return result;
}

RegisterFields CalculateRegisterFields(uint32_t avg, const Coefficients& coefficients,
                                       uint32_t pmax, uint32_t pc, uint32_t ip, uint32_t pref) {
    const double a = static_cast<double>(avg);
    const double dPmax = static_cast<double>(pmax);
    const double dPc = static_cast<double>(pc);
    const double dIp = static_cast<double>(ip);
    const double dPref = static_cast<double>(pref);

    RegisterFields fields;
    fields.calcPmax = TruncToRegister(a * 4.0 * dPmax * 0.9 / dPref);
    fields.calcPc = TruncToRegister(4.0 * coefficients.coeff2 * dPc * 0.95 / dPref * 0.5);
    fields.calcIp =
        TruncToRegister(std::sqrt(dIp * dIp / dPref * 0.25 * 0.5) * coefficients.coeff1);
    return fields;
}

OutputFigures CalculateOutputFigures(uint32_t avg, const Coefficients& coefficients,
                                     const RegisterFields& fields, uint32_t pref) {
    const double a = static_cast<double>(avg);
    const double dPref = static_cast<double>(pref);
    const double dPmax = static_cast<double>(fields.calcPmax);
    const double dPc = static_cast<double>(fields.calcPc);
    const double q = static_cast<double>(fields.calcIp) / coefficients.coeff2;

    OutputFigures figures;
    figures.p2 =
        static_cast<int32_t>(TruncToRegister(2.0 * (dPref * dPmax) / coefficients.coeff2 * 0.25));
    figures.p2i = static_cast<int32_t>(TruncToRegister(2.0 * (q * q * dPref)));
    figures.p4 = static_cast<int32_t>(TruncToRegister(dPc * dPref / a * 0.25));
    return figures;
}

std::optional<std::string> RegisterFieldOverflowLine(const RegisterFields& fields) {
    const std::pair<const char*, uint32_t> named[] = {
        {"Pmax", fields.calcPmax},
        {"Pc", fields.calcPc},
        {"Ip", fields.calcIp},
    };
    for (const auto& [name, value] : named) {
        if (value > kRegisterFieldMax) {
            return Format(
                "Calculated %s = %u(0x%x) is above the 12-bit register limit of %u(0x%x),"
                "please raise Pref(W) and try again.\n",
                name, value, value, kRegisterFieldMax, kRegisterFieldMax);
        }
    }
    return std::nullopt;
}

uint32_t ComposeStmax(uint32_t calcPmax, uint32_t calcIp) {
    return 0xD000D000u | (calcIp << 16) | calcPmax;
}

uint32_t ComposeStpte(uint32_t calcPc, uint32_t ep, uint32_t red, uint32_t rec) {
    return (red << 20) | (rec << 17) | (ep << 12) | calcPc;
}

uint8_t ClipCode(float cp) {
    const double value = static_cast<double>(cp);
    for (const ClipRow& row : kClipRows) {
        if (value <= row.bound) {
            return row.code;
        }
    }
    return kClipCodeAboveTable;
}

uint32_t ComposeStclip(float cp) {
    return static_cast<uint32_t>(ClipCode(cp)) << 24;
}

StmaxFields DecodeStmax(uint32_t stmax) {
    return {stmax & kRegisterFieldMax, (stmax >> 16) & kRegisterFieldMax, stmax & 0xF000F000u};
}

StpteFields DecodeStpte(uint32_t stpte) {
    return {stpte & kRegisterFieldMax, (stpte >> 12) & 0x1Fu, (stpte >> 17) & 0x7u, stpte >> 20};
}

uint8_t DecodeStclip(uint32_t stclip) {
    return static_cast<uint8_t>(stclip >> 24);
}

std::optional<ClipSpan> ClipSpanOf(uint8_t code) {
    if (code == kClipCodeAboveTable) {
        // The last two rows share the code, and anything above the table gets it too.
        return ClipSpan{kClipRows[kClipRows.size() - 3].bound, std::nullopt};
    }
    for (size_t i = 0; i < kClipRows.size(); ++i) {
        if (kClipRows[i].code == code) {
            return ClipSpan{i == 0 ? std::nullopt : std::optional<double>(kClipRows[i - 1].bound),
                            kClipRows[i].bound};
        }
    }
    return std::nullopt;
}

std::string FormatValueLine(const char* format, uint32_t value) {
    return Format(format, static_cast<int>(value), value);
}

std::string FormatFigureLine(const char* format, int32_t value) {
    return Format(format, static_cast<int>(value));
}

std::string FormatFixed5(double value) {
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 5);
    if (result.ec != std::errc()) {
        return {};
    }
    return std::string(buffer, result.ptr);
}

std::string FormatRegisterLine(const char* name, uint32_t value) {
    std::string line = Format("Reg %s = 0x%0.8x\n", name, value);
    for (char& ch : line) {
        if (ch >= 'a' && ch <= 'z') {
            ch = static_cast<char>(ch - 'a' + 'A');
        }
    }
    return line;
}

}  // namespace k5::torvik
