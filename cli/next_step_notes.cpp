#include "cli/next_step_notes.h"

#include "serialport/com_port.h"
#include "veldra/event_codes.h"

namespace k5::cli {

namespace {

constexpr const char* kNoNextButton = " (no Next button here)\n";

bool CalibrationFollowsWarmUp(const Options& options) {
    return options.command == Command::Calibrate && options.warmUpFirst;
}

}  // namespace

std::string NoteAfterDetection(const Options& options, uint32_t code) {
    if (code != veldra::kDetectFound) {
        return {};
    }
    switch (options.command) {
        case Command::Detect:
            return std::string("k5ctl: detect ends here; k5ctl calibrate starts the calibration") +
                   kNoNextButton;
        case Command::WarmUp:
            return std::string("k5ctl: the warm-up starts now") + kNoNextButton;
        case Command::Calibrate:
            return std::string(options.warmUpFirst
                                   ? "k5ctl: the warm-up starts now, the calibration after it"
                                   : "k5ctl: the calibration starts now") +
                   kNoNextButton;
        default:
            return {};
    }
}

std::string NoteAfterWarmUpStart(const Options& options) {
    return "k5ctl: warm-up of " + std::to_string(options.minutes) +
           (options.minutes == 1 ? " minute" : " minutes") + "; Ctrl-C stops it\n";
}

std::string NoteAfterWarmUpEnd(const Options& options, uint32_t code) {
    switch (code) {
        case veldra::kWarmUpFinished:
            return std::string(
                       CalibrationFollowsWarmUp(options)
                           ? "k5ctl: the calibration starts now"
                           : "k5ctl: warm-up done; k5ctl calibrate starts the calibration") +
                   kNoNextButton;
        case veldra::kWarmUpCancelled:
            return std::string("k5ctl: warm-up stopped; k5ctl calibrate calibrates without it, ") +
                   (CalibrationFollowsWarmUp(options) ? "k5ctl calibrate --warm-up"
                                                      : "k5ctl warm-up") +
                   " starts it again\n";
        default:
            return {};
    }
}

std::string NoteAfterPortError(const Options& options, PortError error) {
    if (!options.device.empty()) {
        if (error == PortError::NotFound || error == PortError::NotSerialDevice) {
            return "k5ctl: --device " + options.device +
                   " is no serial device; k5ctl ports lists them\n";
        }
        return {};
    }
    if (error != PortError::NotFound) {
        return {};
    }
    const std::string com = "COM" + std::to_string(options.port);
    const std::string variable = "K5_COM" + std::to_string(options.port);
    switch (DescribeComPort(options.port).source) {
        case ComPortSource::None:
            return "k5ctl: " + com + " has no device: set " + variable + " or see k5ctl ports\n";
        case ComPortSource::Environment:
            return "k5ctl: " + variable +
                   " names a path that is not there: correct it or see k5ctl ports\n";
        default:
            return "k5ctl: " + com + " is not plugged in: connect its adapter or see k5ctl ports\n";
    }
}

}  // namespace k5::cli
