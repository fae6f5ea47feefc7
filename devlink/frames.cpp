#include "devlink/frames.h"

namespace k5 {

uint8_t FrameChecksum(std::span<const uint8_t> bytes) {
    uint8_t sum = 0;
    for (uint8_t b : bytes) {
        sum = static_cast<uint8_t>(sum + b);
    }
    return sum;
}

namespace {

template <size_t N>
void PutChecksum(std::array<uint8_t, N>& frame) {
    frame[N - 1] = FrameChecksum(std::span<const uint8_t>(frame.data(), N - 1));
}

uint8_t Byte(uint32_t value, int shift) {
    return static_cast<uint8_t>((value >> shift) & 0xFF);
}

}  // namespace

ReadRequest BuildReadRequest(uint16_t address) {
    ReadRequest f = {kFrameSync,       0x04, kGroupRegister, kOpRead, Byte(address, 8),
                     Byte(address, 0), 0};
    PutChecksum(f);
    return f;
}

WriteRequest BuildWriteRequest(uint16_t address, uint32_t value) {
    WriteRequest f = {kFrameSync,
                      0x08,
                      kGroupRegister,
                      kOpWrite,
                      Byte(address, 8),
                      Byte(address, 0),
                      Byte(value, 24),
                      Byte(value, 16),
                      Byte(value, 8),
                      Byte(value, 0),
                      0};
    PutChecksum(f);
    return f;
}

RegisterReply BuildRegisterReply(uint8_t operation, uint16_t address, uint32_t value) {
    RegisterReply f = {kFrameSync,
                       0x08,
                       kGroupRegister,
                       operation,
                       Byte(address, 8),
                       Byte(address, 0),
                       Byte(value, 24),
                       Byte(value, 16),
                       Byte(value, 8),
                       Byte(value, 0),
                       0};
    PutChecksum(f);
    return f;
}

ModeControlFrame BuildBurnInFrame(bool on) {
    ModeControlFrame f = {kFrameSync, 0x04, kGroupModeControl,
                          kOpWrite,   0xFF, static_cast<uint8_t>(on ? 0x55 : 0xAA),
                          0};
    PutChecksum(f);
    return f;
}

const char* Describe(ReplyCheck check) {
    switch (check) {
        case ReplyCheck::Ok:
            return "valid reply";
        case ReplyCheck::Empty:
            return "no reply";
        case ReplyCheck::BadSync:
            return "reply does not start with FF";
        case ReplyCheck::BadLength:
            return "reply length byte is not 08";
        case ReplyCheck::BadGroup:
            return "reply is not a register frame";
        case ReplyCheck::WrongOperation:
            return "reply is for another operation";
        case ReplyCheck::BadChecksum:
            return "reply checksum is wrong";
        case ReplyCheck::WrongAddress:
            return "reply is for another register";
        case ReplyCheck::TooShort:
            return "reply is shorter than 11 bytes";
    }
    return "unknown";
}

ReplyCheck ValidateRegisterReply(std::span<const uint8_t> received, uint8_t operation,
                                 uint16_t address, uint32_t& value) {
    const size_t n = received.size();
    if (n == 0) {
        return ReplyCheck::Empty;
    }
    // A reply cut short fails the first check whose byte it lacks; one that would pass every
    // check is still refused below, since its value bytes never arrived.
    if (received[0] != kFrameSync) {
        return ReplyCheck::BadSync;
    }
    if (n < 2) {
        return ReplyCheck::TooShort;
    }
    if (received[1] != 0x08) {
        return ReplyCheck::BadLength;
    }
    if (n < 3) {
        return ReplyCheck::TooShort;
    }
    if (received[2] != kGroupRegister) {
        return ReplyCheck::BadGroup;
    }
    if (n < 4) {
        return ReplyCheck::TooShort;
    }
    if (received[3] != operation) {
        return ReplyCheck::WrongOperation;
    }
    if (received[n - 1] != FrameChecksum(received.first(n - 1))) {
        return ReplyCheck::BadChecksum;
    }
    if (n < 6) {
        return ReplyCheck::TooShort;
    }
    const uint16_t replyAddress = static_cast<uint16_t>((received[4] << 8) | received[5]);
    if (replyAddress != address) {
        return ReplyCheck::WrongAddress;
    }
    if (n < kRegisterReplySize) {
        return ReplyCheck::TooShort;
    }
    value = (uint32_t{received[6]} << 24) | (uint32_t{received[7]} << 16) |
            (uint32_t{received[8]} << 8) | uint32_t{received[9]};
    return ReplyCheck::Ok;
}

}  // namespace k5
