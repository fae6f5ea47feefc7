#pragma once

#include <cstdint>

namespace k5 {

// Amplifier registers the programs touch.
inline constexpr uint16_t kRegStclip = 0xA101;
inline constexpr uint16_t kRegStmax = 0xA108;
inline constexpr uint16_t kRegStpte = 0xA10A;
inline constexpr uint16_t kRegLeftHighCont = 0xA110;
inline constexpr uint16_t kRegRightHighCont = 0xA111;
inline constexpr uint16_t kRegKey = 0xFFFF;

// Codes the key register takes.
inline constexpr uint32_t kKeyWriteUnlock = 0x6B2E91C4;
inline constexpr uint32_t kKeyWriteLock = 0x94D16E3B;
inline constexpr uint32_t kKeyRestoreDefaults = 0x3C71D2A9;

// A conductance register carries its reading in the low 12 bits.
inline constexpr uint32_t kConductanceMask = 0x0FFF;

}  // namespace k5
