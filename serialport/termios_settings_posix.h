#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>
#include <string>

#include "serialport/serial_settings.h"

namespace k5 {

// The port record's line settings as termios fields: plain translations, no device.

// The speed constant of a baud rate; none for rates termios has no constant for.
std::optional<speed_t> SpeedConstant(uint32_t baud);

// The line settings as termios speed and c_cflag bits (size, parity, stop bits, CLOCAL and
// CREAD), or the reason they cannot be expressed here.
struct LineFlags {
    speed_t speed = B0;
    tcflag_t cflag = 0;
};
std::optional<LineFlags> ToLineFlags(const SerialSettings& settings, std::string& why);

// Makes `t` a raw line with `line`'s speed and framing: no flow control, no echo, no
// translation, and reads that never wait in the driver.
void MakeRaw(termios& t, const LineFlags& line);

// Whether a device's read-back settings `t` are what MakeRaw asked for.
bool SettingsTook(const termios& t, const LineFlags& line);

}  // namespace k5
