#pragma once

#include <cstdint>

#include "devlink/config_settings.h"

namespace k5::veldra {

// The calibration's arithmetic. Each expression is evaluated in double precision in the
// order written in calibration_math.cpp, one operation at a time; the configuration tool
// groups its terms differently, and since the register fields are truncated a different
// grouping can move them by one.

struct CalibrationValues {
    double k = 0.0;  // correction for a load away from 760
    double coeff2 = 0.0;
    double coeff1 = 0.0;
    uint32_t calcPmax = 0;
    uint32_t calcPc = 0;
    uint32_t calcIp = 0;
    uint32_t stmax = 0;
    uint32_t stpte = 0;
    uint32_t stclip = 0;
};

// The mean of both channels' readings, truncated.
uint32_t Coeff0(uint32_t left, uint32_t right);
// True when the two readings are 60 or more apart, whichever is larger.
bool ChannelsUnbalanced(uint32_t left, uint32_t right);

CalibrationValues CalculateCalibration(uint32_t coeff0, const UserSettings& settings);

// 0xD000D000 with calcIp from bit 16 and calcPmax from bit 0.
uint32_t ComposeStmax(uint32_t calcPmax, uint32_t calcIp);
// calcPc in bits 0..11, ep from bit 12, rec from bit 17, red from bit 20.
uint32_t ComposeStpte(uint32_t calcPc, uint32_t ep, uint32_t rec, uint32_t red);
// The clip step n (1..31) in bits 24..28: the largest n whose threshold is not below cp.
// A cp above 1.0 (or not a number) takes step 1, the step of the highest thresholds.
uint32_t ClipLadder(float cp);

// Rounds toward zero. A value that does not fit 32 bits unsigned (negative, too large, not
// a number) gives 0 rather than an undefined conversion.
uint32_t TruncateToUnsigned(double value);

}  // namespace k5::veldra
