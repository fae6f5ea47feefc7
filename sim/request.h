#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace k5::sim {

enum class RequestKind {
    Text,            // a text command; `text` holds it without its carriage returns
    DiscardedText,   // text dropped unheard: longer than the parser keeps, or cut off by a frame
    ReadRegister,    // FF 04 01 03 address checksum
    WriteRegister,   // FF 08 01 02 address value checksum
    ModeControl,     // FF 04 02 02 payload checksum (the burn-in switch)
    MalformedFrame,  // FF followed by a bad length, group, operation or checksum
};

const char* Describe(RequestKind kind);

// One request as it came off the line.
struct Request {
    RequestKind kind = RequestKind::Text;
    std::vector<uint8_t> raw;                          // the bytes it was made of, as received
    std::string text;                                  // Text: the command, e.g. "Main.Power?"
    uint16_t address = 0;                              // ReadRegister, WriteRegister
    uint32_t value = 0;                                // WriteRegister
    std::chrono::steady_clock::time_point received{};  // stamped by the Simulator

    bool IsFrame() const;
};

}  // namespace k5::sim
