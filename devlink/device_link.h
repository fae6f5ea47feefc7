#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

#include "devlink/frames.h"
#include "devlink/serial_comm.h"
#include "serialport/cancel_event.h"

namespace k5 {

enum class WaitResult { Elapsed, Cancelled };

// Results of MeasureRegister.
enum MeasureStatus : int {
    kMeasureInRange = 0,
    kMeasureOutOfRange = 1,
    kMeasureReadFailure = -1,
    kMeasureCancelled = -2,
};

// Why the last exchange on a link failed; for diagnostics only, the operations keep their
// plain results.
enum class LinkFailure {
    None,
    Cancelled,  // the cancel event was seen in the exchange's pause
    PortClosed,
    HungUp,        // the line went away
    NoReply,       // nothing arrived within the read time-outs
    WrongReply,    // text arrived, but not the expected text
    InvalidFrame,  // a register reply failed a check (see LastReplyCheck)
};

const char* Describe(LinkFailure failure);

// Told on the pausing thread when a pause on the cancel event begins (with its scaled length)
// and when it ends, elapsed or cancelled: a runner can show the time left of a long one.
class PauseWatcher {
public:
    virtual ~PauseWatcher() = default;
    virtual void PauseBegins(std::chrono::milliseconds length) = 0;
    virtual void PauseEnds() = 0;
};

// A window's port record together with its cancel event: the context of every exchange with
// the amplifier. Every exchange purges, writes, pauses on the cancel event, then reads what
// has arrived within the port's time-outs.
class DeviceLink {
public:
    // The configuration tool makes one attempt per text command, the wizard two.
    static constexpr int kConfigurationToolAttempts = 1;
    static constexpr int kWizardAttempts = 2;
    static constexpr uint32_t kTextReplySize = 50;

    DeviceLink(CSerialComm& port, CancelEvent& cancel,
               int commandAttempts = kConfigurationToolAttempts)
        : port_(port), cancel_(cancel), commandAttempts_(commandAttempts) {}

    CSerialComm& Port() { return port_; }
    CancelEvent& Cancel() { return cancel_; }

    int CommandAttempts() const { return commandAttempts_; }
    void SetCommandAttempts(int attempts) { commandAttempts_ = attempts < 1 ? 1 : attempts; }

    // Every pause on the cancel event lasts `scale` times its nominal length. The programs
    // keep 1; tests shorten the procedures' long pauses with it. The port's own read and
    // write time-outs are never scaled.
    void SetTimeScale(double scale) { timeScale_ = scale > 0.0 ? scale : 0.0; }
    double TimeScale() const { return timeScale_; }

    // Waits `ms` (scaled) on the cancel event; 0 only polls. A signal seen is consumed.
    WaitResult WaitOrCancel(uint32_t ms);
    // Set before any worker uses the link; nullptr for none. The watcher must outlive its use.
    void SetPauseWatcher(PauseWatcher* watcher) { pauseWatcher_ = watcher; }

    // Sends a text command and looks for `expected` anywhere among the reply's bytes. 1 if it
    // was seen; 0 on no reply, a wrong reply, a closed port or a cancel in the pause (which
    // ends the exchange at once, without another attempt).
    int SendCommand(std::string_view command, std::string_view expected, uint32_t pauseMs);

    // 1 and the value; 0 on failure (value set to 0) or cancel (value left unchanged).
    int ReadRegister(uint16_t address, uint32_t& value);
    // 1 if a valid reply came back; the value it carries is not compared.
    int WriteRegister(uint16_t address, uint32_t value);
    // Reads one reply frame and validates it against the request.
    int ReadRegisterReply(uint8_t operation, uint16_t address, uint32_t& value);

    // Reads the register until sixteen readings (low 12 bits) fall on the same side of the
    // inclusive range [lower, upper]; `average` is their sum divided by 16.
    MeasureStatus MeasureRegister(uint16_t address, uint32_t lower, uint32_t upper,
                                  uint32_t& average);

    // Sends a 7-byte mode-control frame and reads up to 7 bytes back without looking at them.
    // Nothing is sent on a closed port.
    void SendModeControl(const ModeControlFrame& frame);

    LinkFailure LastFailure() const { return lastFailure_; }
    ReplyCheck LastReplyCheck() const { return lastReplyCheck_; }

private:
    int SendCommandOnce(std::string_view command, std::string_view expected, uint32_t pauseMs,
                        bool& cancelled);
    void WriteBytes(const uint8_t* data, size_t count);
    LinkFailure ReadFailure() const;

    CSerialComm& port_;
    CancelEvent& cancel_;
    int commandAttempts_;
    double timeScale_ = 1.0;
    PauseWatcher* pauseWatcher_ = nullptr;
    LinkFailure lastFailure_ = LinkFailure::None;
    ReplyCheck lastReplyCheck_ = ReplyCheck::Ok;
};

}  // namespace k5
