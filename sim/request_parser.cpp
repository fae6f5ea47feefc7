#include "sim/request_parser.h"

#include "devlink/frames.h"

namespace k5::sim {

namespace {

constexpr uint8_t kCr = '\r';

// Whether the first four bytes of a frame name a request the amplifier knows.
bool KnownHeader(uint8_t length, uint8_t group, uint8_t operation) {
    if (group == kGroupRegister) {
        return (operation == kOpRead && length == 0x04) ||
               (operation == kOpWrite && length == 0x08);
    }
    return group == kGroupModeControl && operation == kOpWrite && length == 0x04;
}

uint32_t BigEndian(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i) {
        value = (value << 8) | bytes[from + i];
    }
    return value;
}

}  // namespace

const char* Describe(RequestKind kind) {
    switch (kind) {
        case RequestKind::Text:
            return "text";
        case RequestKind::DiscardedText:
            return "discarded text";
        case RequestKind::ReadRegister:
            return "register read";
        case RequestKind::WriteRegister:
            return "register write";
        case RequestKind::ModeControl:
            return "mode control";
        case RequestKind::MalformedFrame:
            return "malformed frame";
    }
    return "unknown";
}

bool Request::IsFrame() const {
    return kind == RequestKind::ReadRegister || kind == RequestKind::WriteRegister ||
           kind == RequestKind::ModeControl || kind == RequestKind::MalformedFrame;
}

std::vector<Request> RequestParser::Feed(std::span<const uint8_t> bytes) {
    std::vector<Request> out;
    Feed(bytes, out);
    return out;
}

void RequestParser::Feed(std::span<const uint8_t> bytes, std::vector<Request>& out) {
    for (uint8_t byte : bytes) {
        Step(byte, out);
        // A rejected frame hands back the bytes after its FF; they are parsed again before
        // the next new byte. Every rejection drops one byte for good, so this ends.
        while (!replay_.empty()) {
            const uint8_t again = replay_.front();
            replay_.pop_front();
            Step(again, out);
        }
    }
}

void RequestParser::Reset() {
    frame_.clear();
    text_.clear();
    replay_.clear();
    leadingCr_ = false;
    skippingText_ = false;
}

void RequestParser::Step(uint8_t byte, std::vector<Request>& out) {
    if (!frame_.empty()) {
        FrameByte(byte, out);
        return;
    }
    if (byte == kFrameSync) {
        if (!text_.empty()) {
            DiscardText(out);
        }
        skippingText_ = false;
        leadingCr_ = false;
        frame_.push_back(byte);
        return;
    }
    TextByte(byte, out);
}

void RequestParser::FrameByte(uint8_t byte, std::vector<Request>& out) {
    frame_.push_back(byte);
    const size_t n = frame_.size();
    if (n == 2 && byte != 0x04 && byte != 0x08) {
        RejectFrame(out);
        return;
    }
    if (n == 3 && byte != kGroupRegister && byte != kGroupModeControl) {
        RejectFrame(out);
        return;
    }
    if (n == 4 && !KnownHeader(frame_[1], frame_[2], frame_[3])) {
        RejectFrame(out);
        return;
    }
    if (n >= 4 && n == size_t{frame_[1]} + 3) {
        const auto body = std::span<const uint8_t>(frame_.data(), n - 1);
        if (FrameChecksum(body) != frame_.back()) {
            RejectFrame(out);
            return;
        }
        EmitFrame(out);
    }
}

void RequestParser::EmitFrame(std::vector<Request>& out) {
    Request r;
    if (frame_[2] == kGroupModeControl) {
        r.kind = RequestKind::ModeControl;
    } else if (frame_[3] == kOpRead) {
        r.kind = RequestKind::ReadRegister;
        r.address = static_cast<uint16_t>(BigEndian(frame_, 4, 2));
    } else {
        r.kind = RequestKind::WriteRegister;
        r.address = static_cast<uint16_t>(BigEndian(frame_, 4, 2));
        r.value = BigEndian(frame_, 6, 4);
    }
    r.raw = std::move(frame_);
    frame_.clear();
    out.push_back(std::move(r));
}

void RequestParser::RejectFrame(std::vector<Request>& out) {
    Request r;
    r.kind = RequestKind::MalformedFrame;
    r.raw = frame_;
    out.push_back(std::move(r));
    // The FF was not the start of a frame after all; what followed it may be.
    replay_.insert(replay_.begin(), frame_.begin() + 1, frame_.end());
    frame_.clear();
}

void RequestParser::TextByte(uint8_t byte, std::vector<Request>& out) {
    if (byte == kCr) {
        if (skippingText_) {
            skippingText_ = false;
        } else if (!text_.empty()) {
            Request r;
            r.kind = RequestKind::Text;
            if (leadingCr_) {
                r.raw.push_back(kCr);
            }
            r.raw.insert(r.raw.end(), text_.begin(), text_.end());
            r.raw.push_back(kCr);
            r.text = std::move(text_);
            text_.clear();
            out.push_back(std::move(r));
            // This carriage return ended a command; the next command brings its own.
            leadingCr_ = false;
            return;
        }
        // Nothing between two carriage returns: only framing.
        leadingCr_ = true;
        return;
    }
    if (skippingText_) {
        return;
    }
    if (text_.size() >= kMaxText) {
        DiscardText(out);
        skippingText_ = true;
        return;
    }
    text_.push_back(static_cast<char>(byte));
}

void RequestParser::DiscardText(std::vector<Request>& out) {
    Request r;
    r.kind = RequestKind::DiscardedText;
    if (leadingCr_) {
        r.raw.push_back(kCr);
    }
    r.raw.insert(r.raw.end(), text_.begin(), text_.end());
    text_.clear();
    leadingCr_ = false;
    out.push_back(std::move(r));
}

}  // namespace k5::sim
