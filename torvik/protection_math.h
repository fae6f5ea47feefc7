#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace k5::torvik {

// The protection register arithmetic of a configuration run. Every expression is evaluated
// in double precision strictly left to right, each product or quotient rounded before the
// next operation: the integer results are truncated, so a different order (or a fused
// multiply-add) can move them by one at whole numbers.

// Coefficients derived from the averaged conductance reading.
struct Coefficients {
    double c = 0.0;       // correction factor
    double coeff2 = 0.0;  // logged first
    double coeff1 = 0.0;
};

// The three register fields of STMAX and STPTE.
struct RegisterFields {
    uint32_t calcPmax = 0;
    uint32_t calcPc = 0;
    uint32_t calcIp = 0;
};

// Output power figures in W.
struct OutputFigures {
    int32_t p2 = 0;   // max power at 2 ohms
    int32_t p2i = 0;  // max power at 2 ohms, current limited
    int32_t p4 = 0;   // continuous power at 4 ohms
};

// Rounds toward zero to a signed 64-bit integer and keeps its low 32 bits (two's complement
// for a negative x). Infinite, NaN or magnitude of 2^63 or more gives 0.
uint32_t TruncToRegister(double x);

// The integer mean of both readings, rounded down.
uint32_t AverageConductance(uint32_t left, uint32_t right);
// True when the readings are 60 or more apart.
bool ConductanceImbalanced(uint32_t left, uint32_t right);

Coefficients CalculateCoefficients(uint32_t avg);
RegisterFields CalculateRegisterFields(uint32_t avg, const Coefficients& coefficients,
                                       uint32_t pmax, uint32_t pc, uint32_t ip, uint32_t pref);
OutputFigures CalculateOutputFigures(uint32_t avg, const Coefficients& coefficients,
                                     const RegisterFields& fields, uint32_t pref);

// Each register field fills 12 bits of its protection register.
inline constexpr uint32_t kRegisterFieldMax = 0xFFF;

// The log line for the first of calcPmax, calcPc and calcIp that does not fit its 12 bits,
// naming the field, its value and the limit and pointing at the Pref setting; nothing when
// all three fit.
std::optional<std::string> RegisterFieldOverflowLine(const RegisterFields& fields);

// The register layouts; no field is masked, so a field wider than 12 bits spills into its
// neighbours.
uint32_t ComposeStmax(uint32_t calcPmax, uint32_t calcIp);
uint32_t ComposeStpte(uint32_t calcPc, uint32_t ep, uint32_t red, uint32_t rec);

// The clip code selected by the clip setting: the first table row whose bound `cp` does not
// exceed. A value above 1.0 (or NaN) matches no row and gets the last row's code, 0x01.
uint8_t ClipCode(float cp);
uint32_t ComposeStclip(float cp);

// What a protection register carries, read back field by field: the inverse of the layouts
// above for fields that fit their bits. STMAX's marker is its bits 12-15 and 28-31, which a
// composed value holds as 0xD000D000.
struct StmaxFields {
    uint32_t calcPmax = 0;  // bits 0-11
    uint32_t calcIp = 0;    // bits 16-27
    uint32_t marker = 0;
};
struct StpteFields {
    uint32_t calcPc = 0;  // bits 0-11
    uint32_t ep = 0;      // bits 12-16
    uint32_t rec = 0;     // bits 17-19
    uint32_t red = 0;     // bits 20-31
};
StmaxFields DecodeStmax(uint32_t stmax);
StpteFields DecodeStpte(uint32_t stpte);
// The clip code in bits 24-31; the bits below it are 0 in a composed value.
uint8_t DecodeStclip(uint32_t stclip);

// The clip settings that select `code`: above `above` (none for 0x1F) and at most `atMost`
// (none for 0x01, which also takes every value above the table). Nothing for a code the
// table does not give.
struct ClipSpan {
    std::optional<double> above;
    std::optional<double> atMost;
};
std::optional<ClipSpan> ClipSpanOf(uint8_t code);

// printf-style formatting of the log lines. A "%d(0x%x)" line prints its value twice, as a
// signed decimal and as hexadecimal; a figure line prints one signed decimal.
std::string FormatValueLine(const char* format, uint32_t value);
std::string FormatFigureLine(const char* format, int32_t value);
// "%0.5f": five decimals, correctly rounded, always with a point whatever the process locale
// (a window toolkit may switch the C locale to the user's).
std::string FormatFixed5(double value);
// "Reg NAME = 0x%0.8x\n", upper-cased as a whole.
std::string FormatRegisterLine(const char* name, uint32_t value);

}  // namespace k5::torvik
