// Measures on a real serial device how the kit's Write relates to the driver's output queue:
// a plain write() hands the bytes to the queue and returns at once, so the probe first shows
// how long that queue takes to empty; then it writes the same bytes through SerialPort and
// looks at the queue (and, on a UART, the transmitter) the moment Write returns. Run as root
// inside the driver test's guest: the second descriptor it looks through is exempt from the
// port's exclusive flag.
//
//   drain_probe DEVICE BYTES
//
// Prints one line of figures; exit 0 when Write returned every byte with the queue empty and
// the transmitter idle, 1 when not, 2 when the device could not be used.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "serialport/serial_port.h"
#include "serialport/termios_settings_posix.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kBaud = 115200;
constexpr int kBitsPerByte = 10;  // start, 8 data, stop

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int Queued(int fd) {
    int queued = -1;
    return ::ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : -1;
}

// Whether the UART's transmitter has nothing left to shift out; true where the device does
// not say (a USB adapter).
bool TransmitterIdle(int fd) {
    unsigned int lsr = 0;
    if (::ioctl(fd, TIOCSERGETLSR, &lsr) != 0) {
        return true;
    }
    return (lsr & TIOCSER_TEMT) != 0;
}

int OpenRaw(const char* device) {
    const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "drain_probe: %s: %s\n", device, std::strerror(errno));
        return -1;
    }
    k5::SerialSettings settings;
    settings.baudRateIndex = k5::kBaudIndex115200;
    std::string why;
    const auto line = k5::ToLineFlags(settings, why);
    termios t{};
    if (!line || ::tcgetattr(fd, &t) != 0) {
        std::fprintf(stderr, "drain_probe: %s: not a serial device %s\n", device, why.c_str());
        ::close(fd);
        return -1;
    }
    k5::MakeRaw(t, *line);
    ::tcsetattr(fd, TCSANOW, &t);
    ::tcflush(fd, TCIOFLUSH);
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: drain_probe DEVICE BYTES\n");
        return 2;
    }
    const char* device = argv[1];
    const size_t count = std::strtoul(argv[2], nullptr, 10);
    if (count == 0 || count > 4000) {
        std::fprintf(stderr, "drain_probe: BYTES is 1 to 4000 (what the queue holds at once)\n");
        return 2;
    }
    // Carriage returns: empty lines to the amplifier, which answers none of them.
    const std::vector<uint8_t> bytes(count, '\r');
    const double lineMs = 1000.0 * static_cast<double>(count * kBitsPerByte) / kBaud;

    // A plain write: what is still queued when it returns, and how long the queue takes.
    const int plain = OpenRaw(device);
    if (plain < 0) {
        return 2;
    }
    auto start = Clock::now();
    const ssize_t n = ::write(plain, bytes.data(), bytes.size());
    const double plainMs = MillisecondsSince(start);
    const int queuedAfterPlain = Queued(plain);
    while (Queued(plain) > 0 || !TransmitterIdle(plain)) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    const double emptiedMs = MillisecondsSince(start);
    ::close(plain);
    if (n != static_cast<ssize_t>(count)) {
        std::fprintf(stderr, "drain_probe: a plain write took %zd of %zu bytes\n", n, count);
        return 2;
    }

    // The kit's Write, its default time-outs: 1 ms per byte plus 30 ms.
    k5::SerialSettings settings;
    settings.baudRateIndex = k5::kBaudIndex115200;
    k5::SerialPort port;
    if (!port.Open(device, settings)) {
        std::fprintf(stderr, "drain_probe: %s\n", port.LastErrorText().c_str());
        return 2;
    }
    const int look = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (look < 0) {
        std::fprintf(stderr, "drain_probe: a second look at %s: %s\n", device,
                     std::strerror(errno));
        return 2;
    }
    start = Clock::now();
    const size_t written =
        port.Write(bytes.data(), bytes.size(), k5::WriteTimeoutFor(settings));
    const double writeMs = MillisecondsSince(start);
    const int queuedAfterWrite = Queued(look);
    const bool idle = TransmitterIdle(look);
    ::close(look);
    port.Close();

    std::printf(
        "bytes %zu line %.1f ms | plain write %.2f ms, %d queued, empty after %.1f ms | "
        "Write %.1f ms, returned %zu, %d queued, transmitter %s\n",
        count, lineMs, plainMs, queuedAfterPlain, emptiedMs, writeMs, written, queuedAfterWrite,
        idle ? "idle" : "busy");
    return written == count && queuedAfterWrite == 0 && idle ? 0 : 1;
}
