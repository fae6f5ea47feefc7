#include "devlink/device_link.h"

#include <array>
#include <chrono>
#include <cmath>

#include "devlink/registers.h"

namespace k5 {

const char* Describe(LinkFailure failure) {
    switch (failure) {
        case LinkFailure::None:
            return "no failure";
        case LinkFailure::Cancelled:
            return "cancelled";
        case LinkFailure::PortClosed:
            return "port closed";
        case LinkFailure::HungUp:
            return "line hung up";
        case LinkFailure::NoReply:
            return "no reply";
        case LinkFailure::WrongReply:
            return "unexpected reply";
        case LinkFailure::InvalidFrame:
            return "invalid reply frame";
    }
    return "unknown";
}

WaitResult DeviceLink::WaitOrCancel(uint32_t ms) {
    const auto scaled = std::chrono::duration<double, std::milli>(ms * timeScale_);
    const auto timeout = std::chrono::duration_cast<std::chrono::nanoseconds>(scaled);
    if (pauseWatcher_ == nullptr || ms == 0) {
        return cancel_.WaitFor(timeout) ? WaitResult::Cancelled : WaitResult::Elapsed;
    }
    pauseWatcher_->PauseBegins(std::chrono::duration_cast<std::chrono::milliseconds>(timeout));
    const bool cancelled = cancel_.WaitFor(timeout);
    pauseWatcher_->PauseEnds();
    return cancelled ? WaitResult::Cancelled : WaitResult::Elapsed;
}

void DeviceLink::WriteBytes(const uint8_t* data, size_t count) {
    // The result is not looked at: a failed or partial write shows up as a missing reply.
    (void)port_.Write(data, static_cast<uint32_t>(count));
}

LinkFailure DeviceLink::ReadFailure() const {
    if (!port_.IsOpen()) {
        return LinkFailure::PortClosed;
    }
    return port_.HungUp() ? LinkFailure::HungUp : LinkFailure::NoReply;
}

int DeviceLink::SendCommandOnce(std::string_view command, std::string_view expected,
                                uint32_t pauseMs, bool& cancelled) {
    // One spare byte so the reply could be treated as a C string; only received bytes count.
    std::array<char, kTextReplySize + 1> reply{};
    port_.Purge();
    WriteBytes(reinterpret_cast<const uint8_t*>(command.data()), command.size());
    if (WaitOrCancel(pauseMs) == WaitResult::Cancelled) {
        cancelled = true;
        lastFailure_ = LinkFailure::Cancelled;
        return 0;
    }
    if (!port_.IsOpen()) {
        lastFailure_ = LinkFailure::PortClosed;
        return 0;
    }
    const uint32_t received = port_.Read(reinterpret_cast<uint8_t*>(reply.data()), kTextReplySize);
    if (received == 0) {
        lastFailure_ = ReadFailure();
        return 0;
    }
    if (std::string_view(reply.data(), received).find(expected) == std::string_view::npos) {
        lastFailure_ = LinkFailure::WrongReply;
        return 0;
    }
    lastFailure_ = LinkFailure::None;
    return 1;
}

int DeviceLink::SendCommand(std::string_view command, std::string_view expected, uint32_t pauseMs) {
    for (int attempt = 0; attempt < commandAttempts_; ++attempt) {
        bool cancelled = false;
        if (SendCommandOnce(command, expected, pauseMs, cancelled)) {
            return 1;
        }
        if (cancelled) {
            return 0;
        }
    }
    return 0;
}

int DeviceLink::ReadRegister(uint16_t address, uint32_t& value) {
    const ReadRequest request = BuildReadRequest(address);
    port_.Purge();
    WriteBytes(request.data(), request.size());
    if (WaitOrCancel(5) == WaitResult::Cancelled) {
        lastFailure_ = LinkFailure::Cancelled;
        return 0;
    }
    if (!ReadRegisterReply(kOpRead, address, value)) {
        value = 0;
        return 0;
    }
    return 1;
}

int DeviceLink::WriteRegister(uint16_t address, uint32_t value) {
    const WriteRequest request = BuildWriteRequest(address, value);
    port_.Purge();
    WriteBytes(request.data(), request.size());
    if (WaitOrCancel(5) == WaitResult::Cancelled) {
        lastFailure_ = LinkFailure::Cancelled;
        return 0;
    }
    uint32_t replyValue = 0;
    return ReadRegisterReply(kOpWrite, address, replyValue);
}

int DeviceLink::ReadRegisterReply(uint8_t operation, uint16_t address, uint32_t& value) {
    if (!port_.IsOpen()) {
        lastFailure_ = LinkFailure::PortClosed;
        return 0;
    }
    RegisterReply reply{};
    const uint32_t received = port_.Read(reply.data(), kRegisterReplySize);
    uint32_t replyValue = 0;
    lastReplyCheck_ = ValidateRegisterReply(std::span<const uint8_t>(reply.data(), received),
                                            operation, address, replyValue);
    if (lastReplyCheck_ != ReplyCheck::Ok) {
        lastFailure_ = received == 0 ? ReadFailure() : LinkFailure::InvalidFrame;
        return 0;
    }
    value = replyValue;
    lastFailure_ = LinkFailure::None;
    return 1;
}

MeasureStatus DeviceLink::MeasureRegister(uint16_t address, uint32_t lower, uint32_t upper,
                                          uint32_t& average) {
    constexpr size_t kReadings = 16;
    std::array<uint32_t, kReadings> inRange{};
    std::array<uint32_t, kReadings> outOfRange{};
    size_t inCount = 0;
    size_t outCount = 0;
    auto averageOf = [](const std::array<uint32_t, kReadings>& readings) {
        uint32_t sum = 0;
        for (uint32_t r : readings) {
            sum += r;
        }
        return sum >> 4;
    };
    for (;;) {
        if (WaitOrCancel(1) == WaitResult::Cancelled) {
            return kMeasureCancelled;
        }
        uint32_t value = 0;
        if (!ReadRegister(address, value)) {
            // A cancel seen in the exchange's own pause still reads as a failed reading.
            return kMeasureReadFailure;
        }
        const uint32_t reading = value & kConductanceMask;
        if (reading < lower || reading > upper) {
            outOfRange[outCount++] = reading;
            if (outCount == kReadings) {
                average = averageOf(outOfRange);
                return kMeasureOutOfRange;
            }
        } else {
            inRange[inCount++] = reading;
            if (inCount == kReadings) {
                average = averageOf(inRange);
                return kMeasureInRange;
            }
        }
    }
}

void DeviceLink::SendModeControl(const ModeControlFrame& frame) {
    port_.Purge();
    if (!port_.IsOpen()) {
        lastFailure_ = LinkFailure::PortClosed;
        return;
    }
    WriteBytes(frame.data(), frame.size());
    std::array<uint8_t, kModeControlFrameSize> reply{};
    (void)port_.Read(reply.data(), static_cast<uint32_t>(reply.size()));
    lastFailure_ = LinkFailure::None;
}

}  // namespace k5
