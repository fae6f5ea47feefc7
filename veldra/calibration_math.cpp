#include "veldra/calibration_math.h"

#include <cmath>

namespace k5::veldra {

uint32_t Coeff0(uint32_t left, uint32_t right) {
    return static_cast<uint32_t>((uint64_t{left} + right) / 2);
}

bool ChannelsUnbalanced(uint32_t left, uint32_t right) {
    const uint32_t difference = left > right ? left - right : right - left;
    return difference >= 60;
}

uint32_t TruncateToUnsigned(double value) {
    const double truncated = std::trunc(value);
    if (!(truncated >= 0.0) || truncated > 4294967295.0) {
        return 0;
    }
    return static_cast<uint32_t>(truncated);
}

CalibrationValues CalculateCalibration(uint32_t coeff0, const UserSettings& settings) {
    const double c0 = coeff0;
    const double pmax = settings.pmax;
    const double pc = settings.pc;
    const double ip = settings.ip;
    const double pref = settings.pref;

    CalibrationValues v;
    v.k = 1.0 - (c0 - 760.0) * 0.0005;
    v.coeff2 = (v.k * c0) * 1.664;
    v.coeff1 = (v.k * v.coeff2) * 1.564;
    v.calcPmax = TruncateToUnsigned(((pmax * c0) * 3.6) / pref);
    v.calcPc = TruncateToUnsigned((((pc * v.coeff2) * 3.8) / pref) * 0.5);
    v.calcIp = TruncateToUnsigned(std::sqrt(((ip * ip) / pref) * 0.125) * v.coeff1);
    v.stmax = ComposeStmax(v.calcPmax, v.calcIp);
    v.stpte = ComposeStpte(v.calcPc, settings.ep, settings.rec, settings.red);
    v.stclip = ClipLadder(settings.cp);
    return v;
}

uint32_t ComposeStmax(uint32_t calcPmax, uint32_t calcIp) {
    return 0xD000D000u | (calcIp << 16) | calcPmax;
}

uint32_t ComposeStpte(uint32_t calcPc, uint32_t ep, uint32_t rec, uint32_t red) {
    return calcPc | (ep << 12) | (rec << 17) | (red << 20);
}

uint32_t ClipLadder(float cp) {
    const double value = cp;
    // Thresholds fall as n rises: (40 - n) / 32 for n = 16..31, (64 - n) / 64 for n = 1..15.
    for (uint32_t n = 31; n >= 1; --n) {
        const double threshold = n >= 16 ? (40.0 - n) / 32.0 : (64.0 - n) / 64.0;
        if (threshold >= value) {
            return n << 24;
        }
    }
    return 1u << 24;  // above 63/64: up to 1.0 as defined, beyond it by choice
}

}  // namespace k5::veldra
