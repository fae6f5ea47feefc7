#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace k5 {

// Binary register frames: FF, length (bytes after it, not counting the checksum), function
// group, operation, payload, checksum (sum of every byte before it, modulo 256). Multi-byte
// fields are big-endian.
inline constexpr uint8_t kFrameSync = 0xFF;
inline constexpr uint8_t kGroupRegister = 0x01;
inline constexpr uint8_t kGroupModeControl = 0x02;
inline constexpr uint8_t kOpWrite = 0x02;
inline constexpr uint8_t kOpRead = 0x03;

inline constexpr size_t kReadRequestSize = 7;
inline constexpr size_t kWriteRequestSize = 11;
inline constexpr size_t kRegisterReplySize = 11;
inline constexpr size_t kModeControlFrameSize = 7;

using ReadRequest = std::array<uint8_t, kReadRequestSize>;
using WriteRequest = std::array<uint8_t, kWriteRequestSize>;
using RegisterReply = std::array<uint8_t, kRegisterReplySize>;
using ModeControlFrame = std::array<uint8_t, kModeControlFrameSize>;

uint8_t FrameChecksum(std::span<const uint8_t> bytes);

ReadRequest BuildReadRequest(uint16_t address);
WriteRequest BuildWriteRequest(uint16_t address, uint32_t value);
RegisterReply BuildRegisterReply(uint8_t operation, uint16_t address, uint32_t value);
// The burn-in switch: FF 04 02 02 FF 55 5B switches it on, FF 04 02 02 FF AA B0 off.
ModeControlFrame BuildBurnInFrame(bool on);

// Outcome of checking a register reply; the checks run in the order of the enumerators
// from Empty to WrongAddress, and the first that fails is reported.
enum class ReplyCheck {
    Ok,
    Empty,           // no byte arrived
    BadSync,         // byte 0 is not FF
    BadLength,       // byte 1 is not 08
    BadGroup,        // byte 2 is not 01
    WrongOperation,  // byte 3 is not the request's operation
    BadChecksum,     // the last byte is not the sum of the bytes before it
    WrongAddress,    // bytes 4-5 are not the requested register
    TooShort,        // fewer than 11 bytes: the value would be incomplete
};

const char* Describe(ReplyCheck check);

// Checks `received` as the reply to `operation` on `address`; on Ok, `value` holds bytes 6-9.
ReplyCheck ValidateRegisterReply(std::span<const uint8_t> received, uint8_t operation,
                                 uint16_t address, uint32_t& value);

}  // namespace k5
