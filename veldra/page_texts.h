#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace k5::veldra {

// The wizard's page texts. Lines break with the two characters "\n\r".

// The frame.
inline constexpr std::string_view kWizardCaption = "K5 Calibration Application";
inline constexpr std::string_view kWizardHeader = "K5 Calibration Application V1.0.6";
inline constexpr std::string_view kConfirmExit = "Are you sure you want to exit?";
inline constexpr std::string_view kConfirmExitCaption = "Confirm Exit";

// Welcome page.
inline constexpr std::string_view kWelcomeText =
    "Welcome to the K5 calibration application.\n\r\n\rPlease press Next to continue.";

// Preparation page.
inline constexpr std::string_view kPreparationText =
    "Before starting the calibration, please accomplish the preparations as below:\n\r\n\ra) "
    "Disconnect all inputs.\n\rb) Connect the left and right outputs with 4ohms load.\n\rc) "
    "Connect the PC to the RS232 port of the K5 using serial cable.\n\r";
inline constexpr std::string_view kPreparationNote =
    "d) KEEP K5 POWERED ON FOR 10 MINUTES BEFORE CALIBRATION.\n\r\n\r";
inline constexpr std::string_view kWarmedUpExplanation =
    "If K5 has been powered on for 10 minutes before starting the application,please keep K5 "
    "power on and click the option below,otherwise the application will force the K5 warm up "
    "before calibration.\n\r";
inline constexpr std::string_view kWarmedUpAnswer = "Yes,the K5 has been warmed up for 10 minutes.";
inline constexpr std::string_view kPreparationClosing = "Then please press Next to continue.";

// Port-selection page.
inline constexpr std::string_view kPortInstruction =
    "Please select the corresponding COM port below and press Next to continue.";
inline constexpr std::string_view kPortLabel = "COM Port";
inline constexpr std::string_view kAutoDetect = "Auto Detect";

// Detection page.
inline constexpr std::string_view kLookingForK5 = "Looking for K5...\n\r\n\r";
// The pieces appended for a detection result, "%d" filled with `port`; empty for a code
// above 4.
std::string DetectionResultText(uint32_t code, int32_t port);

// Warm-up page.
inline constexpr std::string_view kWarmUpTitle = "K5 Warming up";
inline constexpr std::string_view kWarmUpInitializing = "Initializing Warming up";
inline constexpr std::string_view kWarmUpInitializedText =
    "Initializing Warming up OK\n\r\n\r"
    "Warming up will run for 10 minutes.During the Warming up, please do not press any "
    "buttons on K5,keep RS232 connection.If you want to quit the process,please press "
    "Exit.\n\r";
inline constexpr std::string_view kWarmUpErrorText =
    "Warm up error.Please double check the connection to the PC and the COM port selection "
    "then try again.\n\r";
inline constexpr std::string_view kWarmUpCancelledText =
    "Warm up cancelled.\n\rPress Next to start the calibration manually or press Previous to "
    "try again.\n\r";
inline constexpr std::string_view kWarmUpAccomplishedText =
    "Warm up accomplish.Please press Next to start calibration.";
inline constexpr std::string_view kConfirmCancelWarmUp =
    "Are you sure you want to cancel K5 warming up?";
inline constexpr std::string_view kConfirmCancelCaption = "Confirm Cancel";
// "%0.2d : %0.2d": 10 : 00, 09 : 05.
std::string CountdownText(int minutes, int seconds);

// Calibration page.
inline constexpr std::string_view kStartingCalibration = "Starting the calibration!\n\r\n\r";
// The piece the calibration page appends for an event code; empty for codes that only move
// the bar and for unknown codes.
std::string_view CalibrationStepText(uint32_t code);

// A page text with each "\n\r" as a single line feed, for a terminal or a log.
std::string ToLineFeeds(std::string_view pageText);

}  // namespace k5::veldra
