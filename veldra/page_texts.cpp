#include "veldra/page_texts.h"

#include <cstdio>

#include "veldra/event_codes.h"

namespace k5::veldra {

namespace {

constexpr std::string_view kDoubleCheck =
    "Please double check the connection to the PC and the COM port selection then try "
    "again.\n\r";
constexpr std::string_view kFoundReminder =
    "Before starting the calibration, please make sure again that all the preparations below "
    "have been done:\n\ra) All inputs are disconnected.\n\rb) The left and right outputs are "
    "connected with 4ohms load.\n\r\n\rThen please press Next to start the calibration.";
constexpr std::string_view kNotPoweredOn =
    "But the K5 has not been powered on.Please power on K5 manually and then try again.\n\r";

std::string WithPort(const char* format, int32_t port) {
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<int>(port));
    return text;
}

}  // namespace

std::string DetectionResultText(uint32_t code, int32_t port) {
    switch (code) {
        case kDetectOpenFailed:
            return WithPort("Can not open COM%d.\n\r\n\r", port) + std::string(kDoubleCheck);
        case kDetectNoK5:
            return WithPort("Can not find K5 on COM%d.\n\r\n\r", port) + std::string(kDoubleCheck);
        case kDetectNotPoweredOn:
            return WithPort("Find K5 on COM%d.\n\r\n\r", port) + std::string(kNotPoweredOn);
        case kDetectFound:
            return WithPort("Found K5 on COM%d.\n\r\n\r", port) + std::string(kFoundReminder);
        case kDetectNoneFound:
            return "Can not find K5.\n\r\n\r" + std::string(kDoubleCheck);
        default:
            return {};
    }
}

std::string CountdownText(int minutes, int seconds) {
    char text[32];
    // The page's "%0.2d : %0.2d": the 0 flag adds nothing to a precision of 2.
    std::snprintf(text, sizeof text, "%.2d : %.2d", minutes, seconds);
    return text;
}

std::string_view CalibrationStepText(uint32_t code) {
    switch (code) {
        case kCalibInitializing:
            return "1) Initializing the K5...  ";
        case kCalibFailed:
            return "Failed\n\r\n\rPlease power off the K5 manually,double check the connection "
                   "to the PC and the COM port selection then try again.\n\r";
        case kCalibCancelled:
            return "Cancelled\n\r\n\r";
        case kCalibStepOk:
            return "OK\n\r";
        case kCalibMeasuring:
            return "2) Measuring the load on K5 output...  ";
        case kCalibBadLoad:
            return "Failed\n\r\n\rGet incorrect measured load values.Please power off the "
                   "K5,check the Post AMP modules and then try again.\n\r";
        case kCalibCalculating:
            return "3) Calculating the parameters...  ";
        case kCalibConfiguring:
            return "4) Configuring the K5 with calculated parameters...  ";
        case kCalibVerifying:
            return "5) Verify the calibration...  ";
        case kCalibReadBackMismatch:
            return "Failed\n\r\n\rK5 has not been configured correctly.Please power off the K5 "
                   "and try the calibration again.\n\r";
        case kCalibPoweringOff:
            return "\n\rK5 Calibration is successful.Now power off the K5...  ";
        case kCalibPowerOffFailed:
            return "Failed\n\r\n\rPlease power off the K5 manually.\n\r";
        default:
            return {};
    }
}

std::string ToLineFeeds(std::string_view pageText) {
    std::string out;
    out.reserve(pageText.size());
    for (size_t i = 0; i < pageText.size(); ++i) {
        out.push_back(pageText[i]);
        if (pageText[i] == '\n' && i + 1 < pageText.size() && pageText[i + 1] == '\r') {
            ++i;
        }
    }
    return out;
}

}  // namespace k5::veldra
