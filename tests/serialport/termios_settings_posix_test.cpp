// The line settings as termios fields, without a device.
#include "serialport/termios_settings_posix.h"

#include <gtest/gtest.h>

#include <functional>

namespace k5 {
namespace {

SerialSettings Line(uint8_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits) {
    SerialSettings s;
    s.baudRateIndex = baud;
    s.byteSizeIndex = byteSize;
    s.parityIndex = parity;
    s.stopBitsIndex = stopBits;
    return s;
}

TEST(TermiosSettings, EachSettingBecomesItsFlagsOrIsRefusedWithItsReason) {
    constexpr tcflag_t kOn = CLOCAL | CREAD;
    const struct {
        const char* what;
        SerialSettings settings;
        speed_t speed;    // B0: refused
        tcflag_t cflag;   // when taken
        const char* why;  // when refused
    } cases[] = {
        {"the amplifier's line", Line(kBaudIndex115200, 1, 0, 0), B115200, CS8 | kOn, ""},
        {"a fresh record", SerialSettings{}, B9600, CS8 | kOn, ""},
        {"7 bits, even, two stop bits", Line(0, 0, 2, 2), B110, CS7 | PARENB | CSTOPB | kOn, ""},
        {"odd", Line(10, 1, 1, 0), B57600, CS8 | PARENB | PARODD | kOn, ""},
        {"mark", Line(6, 1, 3, 0), B9600, CS8 | PARENB | PARODD | CMSPAR | kOn, ""},
        {"space", Line(6, 1, 4, 0), B9600, CS8 | PARENB | CMSPAR | kOn, ""},
        {"14400 has no constant", Line(7, 1, 0, 0), B0, 0,
         "baud rate index 7 is not supported here"},
        {"past the baud table", Line(14, 1, 0, 0), B0, 0,
         "baud rate index 14 is not supported here"},
        {"9 bits", Line(6, 2, 0, 0), B0, 0, "byte size index 2 is not supported here"},
        {"past the parity table", Line(6, 1, 5, 0), B0, 0, "parity index 5 is out of range"},
        {"one and a half stop bits", Line(6, 1, 0, 1), B0, 0,
         "stop bits index 1 is not supported here"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string why;
        const auto flags = ToLineFlags(c.settings, why);
        ASSERT_EQ(flags.has_value(), c.speed != B0) << why;
        if (flags) {
            EXPECT_EQ(flags->speed, c.speed);
            EXPECT_EQ(flags->cflag, c.cflag);
        } else {
            EXPECT_EQ(why, c.why);
        }
    }
}

TEST(TermiosSettings, ARawLineIsReadBackAsTakenUnlessTheDeviceDroppedSomething) {
    std::string why;
    const auto line = ToLineFlags(Line(kBaudIndex115200, 1, 0, 0), why);
    ASSERT_TRUE(line) << why;
    // A terminal as a getty leaves it: cooked, echoing, flow-controlled, at 9600 with parity.
    termios cooked{};
    cooked.c_iflag = ICRNL | IXON | IXOFF | ISTRIP | BRKINT;
    cooked.c_oflag = OPOST | ONLCR;
    cooked.c_lflag = ICANON | ECHO | ECHONL | ISIG | IEXTEN;
    cooked.c_cflag = CS7 | PARENB | CRTSCTS | CSTOPB | HUPCL;
    cooked.c_cc[VMIN] = 1;
    cooked.c_cc[VTIME] = 5;
    cfsetispeed(&cooked, B9600);
    cfsetospeed(&cooked, B9600);
    ASSERT_FALSE(SettingsTook(cooked, *line));

    termios raw = cooked;
    MakeRaw(raw, *line);
    EXPECT_TRUE(SettingsTook(raw, *line));
    EXPECT_EQ(raw.c_cc[VMIN], 0);
    EXPECT_EQ(raw.c_cc[VTIME], 0);
    EXPECT_EQ(raw.c_cflag & HUPCL, tcflag_t{HUPCL}) << "bits the record does not set are kept";
    EXPECT_EQ(raw.c_oflag & ONLCR, tcflag_t{ONLCR});

    const struct {
        const char* what;
        std::function<void(termios&)> drop;
    } dropped[] = {
        {"hardware flow control", [](termios& t) { t.c_cflag |= CRTSCTS; }},
        {"the byte size", [](termios& t) { t.c_cflag = (t.c_cflag & ~CSIZE) | CS7; }},
        {"CR to LF", [](termios& t) { t.c_iflag |= ICRNL; }},
        {"output processing", [](termios& t) { t.c_oflag |= OPOST; }},
        {"echo", [](termios& t) { t.c_lflag |= ECHO; }},
        {"the input speed", [](termios& t) { cfsetispeed(&t, B9600); }},
        {"the output speed", [](termios& t) { cfsetospeed(&t, B57600); }},
    };
    for (const auto& d : dropped) {
        termios readBack = raw;
        d.drop(readBack);
        EXPECT_FALSE(SettingsTook(readBack, *line)) << d.what;
    }
}

}  // namespace
}  // namespace k5
