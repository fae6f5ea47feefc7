#include "serialport/termios_settings_posix.h"

namespace k5 {

namespace {

constexpr tcflag_t kCflagMask = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CLOCAL | CREAD
#ifdef CMSPAR
                                | CMSPAR
#endif
    ;
constexpr tcflag_t kIflagClear =
    IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK;
constexpr tcflag_t kLflagClear = ECHO | ECHONL | ICANON | ISIG | IEXTEN;

}  // namespace

std::optional<speed_t> SpeedConstant(uint32_t baud) {
    switch (baud) {
        case 110:
            return B110;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return std::nullopt;  // 14400, 128000 and 256000 have no termios constant
    }
}

std::optional<LineFlags> ToLineFlags(const SerialSettings& s, std::string& why) {
    LineFlags flags;
    const auto baud = BaudRateFromIndex(s.baudRateIndex);
    const auto speed = baud ? SpeedConstant(*baud) : std::nullopt;
    if (!speed) {
        why = "baud rate index " + std::to_string(s.baudRateIndex) + " is not supported here";
        return std::nullopt;
    }
    flags.speed = *speed;

    switch (ByteSizeFromIndex(s.byteSizeIndex).value_or(0)) {
        case 7:
            flags.cflag |= CS7;
            break;
        case 8:
            flags.cflag |= CS8;
            break;
        default:
            why = "byte size index " + std::to_string(s.byteSizeIndex) + " is not supported here";
            return std::nullopt;
    }

    const auto parity = ParityFromIndex(s.parityIndex);
    if (!parity) {
        why = "parity index " + std::to_string(s.parityIndex) + " is out of range";
        return std::nullopt;
    }
    switch (*parity) {
        case Parity::None:
            break;
        case Parity::Odd:
            flags.cflag |= PARENB | PARODD;
            break;
        case Parity::Even:
            flags.cflag |= PARENB;
            break;
#ifdef CMSPAR
        case Parity::Mark:
            flags.cflag |= PARENB | PARODD | CMSPAR;
            break;
        case Parity::Space:
            flags.cflag |= PARENB | CMSPAR;
            break;
#endif
        default:
            why = "mark and space parity are not supported here";
            return std::nullopt;
    }

    const auto stopBits = StopBitsFromIndex(s.stopBitsIndex);
    if (!stopBits || *stopBits == StopBits::OneAndHalf) {
        why = "stop bits index " + std::to_string(s.stopBitsIndex) + " is not supported here";
        return std::nullopt;
    }
    if (*stopBits == StopBits::Two) {
        flags.cflag |= CSTOPB;
    }
    flags.cflag |= CLOCAL | CREAD;
    return flags;
}

void MakeRaw(termios& t, const LineFlags& line) {
    t.c_iflag &= ~kIflagClear;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~kLflagClear;
    t.c_cflag = (t.c_cflag & ~kCflagMask) | line.cflag;
    // Reads are driven by poll() and our own deadlines, never by the driver's timers.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, line.speed);
    cfsetospeed(&t, line.speed);
}

bool SettingsTook(const termios& t, const LineFlags& line) {
    return (t.c_cflag & kCflagMask) == line.cflag && (t.c_iflag & kIflagClear) == 0 &&
           (t.c_oflag & OPOST) == 0 && (t.c_lflag & kLflagClear) == 0 &&
           cfgetispeed(&t) == line.speed && cfgetospeed(&t) == line.speed;
}

}  // namespace k5
