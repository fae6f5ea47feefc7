#pragma once

#include <cstdint>

namespace k5::veldra {

// The wizard's user messages. Workers send 0x500, 0x502 and 0x505 to the frame; the frame
// forwards them to the page on show as 0x501, 0x503 and 0x505.
inline constexpr uint32_t kMsgDetectDone = 0x500;
inline constexpr uint32_t kMsgShowDetectResult = 0x501;
inline constexpr uint32_t kMsgCalibProgress = 0x502;
inline constexpr uint32_t kMsgShowCalibProgress = 0x503;
inline constexpr uint32_t kMsgWarmedUpChecked = 0x504;
inline constexpr uint32_t kMsgWarmUpEvent = 0x505;

// Detection results (kMsgDetectDone); lParam is the COM port the code refers to.
enum DetectCode : uint32_t {
    kDetectOpenFailed = 0,
    kDetectNoK5 = 1,
    kDetectNotPoweredOn = 2,
    kDetectFound = 3,
    kDetectNoneFound = 4,  // automatic detection: lParam is kNoPortFound
};
inline constexpr uint32_t kLastDetectCode = kDetectNoneFound;

// Automatic detection tries COM1 to COM15; lParam of kDetectNoneFound.
inline constexpr unsigned kFirstAutoPort = 1;
inline constexpr unsigned kLastAutoPort = 15;
inline constexpr int32_t kNoPortFound = 16;

// Calibration events (kMsgCalibProgress); lParam is 0.
enum CalibCode : uint32_t {
    kCalibInitializing = 0,
    kCalibFailed = 1,     // final
    kCalibCancelled = 2,  // final
    kCalibStepOk = 3,
    kCalibMeasuring = 4,
    kCalibBadLoad = 5,  // final
    kCalibCalculating = 6,
    kCalibConfiguring = 7,
    kCalibVerifying = 8,
    kCalibReadBackMismatch = 9,  // final
    kCalibPoweringOff = 10,
    kCalibPowerOffFailed = 11,  // final
    kCalibComplete = 12,        // final
    kCalibTick = 13,
};
inline constexpr uint32_t kLastCalibCode = kCalibTick;

bool IsFinalCalibCode(uint32_t code);

// Warm-up events (kMsgWarmUpEvent); lParam is 0.
enum WarmUpCode : uint32_t {
    kWarmUpError = 14,
    kWarmUpCancelled = 15,
    kWarmUpRunning = 16,
    kWarmUpFinished = 17,  // sent by the warm-up page when its countdown has run out
};

}  // namespace k5::veldra
