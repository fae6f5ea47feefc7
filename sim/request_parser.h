#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "sim/request.h"

namespace k5::sim {

// Splits the byte stream from the line into requests: text commands framed by carriage
// returns (the leading one may be missing) and binary frames that start with FF. A frame
// whose length, group, operation or checksum is wrong is reported once and the parser
// resynchronises on the byte after its FF, so a frame hidden behind noise is still found.
// Holds at most one unfinished frame and kMaxText bytes of text, whatever it is fed.
class RequestParser {
public:
    static constexpr size_t kMaxText = 64;

    // Appends to `out` every request that `bytes` completes.
    void Feed(std::span<const uint8_t> bytes, std::vector<Request>& out);
    std::vector<Request> Feed(std::span<const uint8_t> bytes);

    // Bytes held for a request that is not complete yet.
    size_t Buffered() const { return frame_.size() + text_.size(); }

    void Reset();

private:
    void Step(uint8_t byte, std::vector<Request>& out);
    void FrameByte(uint8_t byte, std::vector<Request>& out);
    void TextByte(uint8_t byte, std::vector<Request>& out);
    void EmitFrame(std::vector<Request>& out);
    void RejectFrame(std::vector<Request>& out);
    void DiscardText(std::vector<Request>& out);

    std::vector<uint8_t> frame_;  // the unfinished frame, from its FF on
    std::string text_;            // the unfinished text command
    bool leadingCr_ = false;      // a carriage return came right before text_
    bool skippingText_ = false;   // text overflowed; ignore bytes up to the next CR
    std::deque<uint8_t> replay_;  // bytes of a rejected frame, to be parsed again
};

}  // namespace k5::sim
