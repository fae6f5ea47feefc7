// Measures on a real serial device how the kit's Write relates to the driver's output queue.
// An emulated UART sends at memory speed, so the line's time is made real by suspending the
// device's output (tcflow) for as long as the bytes would take at 115200 baud: a plain
// write() returns at once with them all queued, while SerialPort::Write must return only
// after the hold, with the queue empty and the transmitter idle; and a Write held past its
// time-out must give up then, discarding the bytes. Run as root inside the
// driver test's guest: the second descriptor it looks through is exempt from the port's
// exclusive flag.
//
//   drain_probe DEVICE BYTES
//
// Prints one line of figures; exit 0 when Write waited for its bytes, 1 when not, 2 when
// the device could not be used.
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
#include <optional>
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

// Suspends the device's output for `hold` from another thread, as a line that takes that
// long to carry the bytes would keep them queued; the driver sends nothing meanwhile.
class OutputHold {
public:
    OutputHold(int fd, std::chrono::milliseconds hold) : fd_(fd) {
        ::tcflow(fd_, TCOOFF);
        resume_ = std::thread([this, hold] {
            std::this_thread::sleep_for(hold);
            ::tcflow(fd_, TCOON);
        });
    }
    ~OutputHold() { resume_.join(); }
    OutputHold(const OutputHold&) = delete;
    OutputHold& operator=(const OutputHold&) = delete;

private:
    int fd_;
    std::thread resume_;
};

struct KitWrite {
    double ms = 0;
    size_t written = 0;
    int queuedAfter = -1;
    bool idle = false;
};

// The kit's Write of `bytes` with its default time-outs (1 ms per byte plus 30 ms), the
// output held for `hold` first when that is not zero.
std::optional<KitWrite> WriteThroughTheKit(const char* device, const std::vector<uint8_t>& bytes,
                                           std::chrono::milliseconds hold) {
    k5::SerialSettings settings;
    settings.baudRateIndex = k5::kBaudIndex115200;
    k5::SerialPort port;
    if (!port.Open(device, settings)) {
        std::fprintf(stderr, "drain_probe: %s\n", port.LastErrorText().c_str());
        return std::nullopt;
    }
    const int look = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (look < 0) {
        std::fprintf(stderr, "drain_probe: a second look at %s: %s\n", device,
                     std::strerror(errno));
        return std::nullopt;
    }
    KitWrite result;
    {
        std::optional<OutputHold> held;
        if (hold.count() > 0) {
            held.emplace(look, hold);
        }
        const auto start = Clock::now();
        result.written = port.Write(bytes.data(), bytes.size(), k5::WriteTimeoutFor(settings));
        result.ms = MillisecondsSince(start);
        result.queuedAfter = Queued(look);
        result.idle = TransmitterIdle(look);
    }
    ::close(look);
    return result;
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
    // The output is held for the time the bytes would take on a real line.
    const auto hold = std::chrono::milliseconds(static_cast<int>(lineMs + 0.5));

    // A plain write under the same hold: it returns at once, the bytes still queued.
    const int plain = OpenRaw(device);
    if (plain < 0) {
        return 2;
    }
    double plainMs = 0;
    int queuedAfterPlain = -1;
    ssize_t n = 0;
    {
        OutputHold held(plain, hold);
        const auto start = Clock::now();
        n = ::write(plain, bytes.data(), bytes.size());
        plainMs = MillisecondsSince(start);
        queuedAfterPlain = Queued(plain);
    }
    ::tcdrain(plain);
    ::close(plain);
    if (n != static_cast<ssize_t>(count)) {
        std::fprintf(stderr, "drain_probe: a plain write took %zd of %zu bytes\n", n, count);
        return 2;
    }

    const auto free = WriteThroughTheKit(device, bytes, std::chrono::milliseconds(0));
    const auto held = WriteThroughTheKit(device, bytes, hold);
    // A hold far past the time-out of a short write (100 bytes: 130 ms): Write gives up at
    // its time-out, discards what is still queued and counts none of it as sent.
    const std::vector<uint8_t> shortWrite(100, '\r');
    constexpr double kShortTimeoutMs = 130;
    const auto stuck = WriteThroughTheKit(device, shortWrite, std::chrono::milliseconds(1000));
    if (!free || !held || !stuck) {
        return 2;
    }
    std::printf(
        "%zu bytes, line time %.1f ms | plain write under a %lld ms hold: %.2f ms, %d queued | "
        "Write under the hold: %.1f ms, %zu sent, %d queued, transmitter %s | Write unheld: "
        "%.1f ms, %d queued | 100 bytes held past their %.0f ms time-out: %.1f ms, %zu sent, %d "
        "queued\n",
        count, lineMs, static_cast<long long>(hold.count()), plainMs, queuedAfterPlain, held->ms,
        held->written, held->queuedAfter, held->idle ? "idle" : "busy", free->ms, free->queuedAfter,
        kShortTimeoutMs, stuck->ms, stuck->written, stuck->queuedAfter);
    // The hold must have kept the bytes queued (or the check proves nothing), and Write must
    // have waited it out and returned with nothing left.
    const bool holdWorked = queuedAfterPlain == static_cast<int>(count);
    const bool waited = held->ms >= static_cast<double>(hold.count()) && held->written == count &&
                        held->queuedAfter == 0 && held->idle;
    const bool drained = free->written == count && free->queuedAfter == 0 && free->idle;
    const bool gaveUp = stuck->ms >= kShortTimeoutMs && stuck->ms < 1000 && stuck->written == 0 &&
                        stuck->queuedAfter == 0;
    return holdWorked && waited && drained && gaveUp ? 0 : 1;
}
