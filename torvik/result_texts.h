#pragma once

#include <string_view>

namespace k5::torvik {

// Result codes of a configuration run.
enum ConfigurationResult : int {
    kResultSuccess = 0,
    kResultNoK5 = 1,                // no K5 answered the model query
    kResultConnectionError = 2,     // a command, measurement read or key write failed
    kResultConductanceRange = 3,    // a conductance reading outside the accepted range, or a
                                    // calculated field too wide for its 12 bits
    kResultConductanceBalance = 4,  // left and right 60 or more apart
    kResultRegisterError = 5,       // a protection register not written or not verified
};

inline constexpr int kLastResultCode = kResultRegisterError;

// The text the log receives when a run ends with `code`; empty for success and for codes
// the log does not know.
std::string_view CompletionText(int code);

// The status label after Open/Close and Test Link.
inline constexpr std::string_view kPortOpenedText = "Port Opened";
inline constexpr std::string_view kPortClosedText = "Port Closed";
inline constexpr std::string_view kPortErrorText = "Port error";
inline constexpr std::string_view kLinkOkText = "Link OK";
inline constexpr std::string_view kLinkErrorText = "Link error";

// Appended to the log when the user stops a run.
inline constexpr std::string_view kCancelledText = "\nCancelled\n";

// The question after a successful run.
inline constexpr std::string_view kSaveReportQuestion = "Save the configuration report?";
inline constexpr std::string_view kMessageCaption = "Note";

// Asked before Alt+D resets the registers when the key was pressed in another program.
inline constexpr std::string_view kRegisterResetQuestion =
    "Alt+D was pressed in another program.\nSet AMP registers to default values?";

}  // namespace k5::torvik
