#pragma once

#include "devlink/config_settings.h"
#include "devlink/device_link.h"
#include "torvik/configuration_observer.h"

namespace k5::torvik {

// One complete configuration of the K5 on the open link: identify and initialise it, measure
// both channels, calculate and write the protection registers, verify and lock them, and
// report the output figures. Runs on a worker thread; every step goes to the observer's log,
// and the run ends with one Complete call carrying its result code. A cancel seen in one of
// the run's pauses or in a measurement ends it at once with neither further log text nor
// completion; a cancel seen inside an exchange fails that exchange, and the run completes
// with the step's failure code. A calculated register field wider than its 12 bits ends
// the run with code 3 before the amplifier is unlocked or written.
//
// The settings are read when the measurement begins and the measured readings, calculated
// fields and register values are written back into `settings` as they are reached, whatever
// the later outcome; nothing else may use the record while the run is active.
void RunConfiguration(DeviceLink& link, ConfigSettings& settings, ConfigurationObserver& observer);

}  // namespace k5::torvik
