// Arbitrary bytes through the simulated amplifier's request parser and model. The first byte
// chooses the faults, the second how the rest is cut into feeds; the parser must stay
// bounded and every reply must be well-formed unless a fault is meant to break it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "devlink/frames.h"
#include "sim/k5_model.h"
#include "sim/request_parser.h"

namespace {

using k5::sim::K5Model;
using k5::sim::Reply;
using k5::sim::Request;
using k5::sim::RequestKind;
using k5::sim::RequestParser;
using k5::sim::SimConfig;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

SimConfig FaultsFrom(uint8_t bits) {
    SimConfig c;
    c.standby = (bits & 0x01) != 0;
    c.silent = (bits & 0x02) != 0;
    c.corruptChecksum = (bits & 0x04) != 0;
    c.wrongAddress = (bits & 0x08) != 0;
    c.wrongOperation = (bits & 0x10) != 0;
    c.shortReply = (bits & 0x20) != 0 ? 7 : 0;
    c.noiseBytes = (bits & 0x40) != 0 ? 9 : 0;
    c.readbackMismatch = (bits & 0x80) != 0;
    c.refuseWrites = (bits & 0x81) == 0x81;
    c.dropTextReplies = (bits & 0x03) == 0x03 ? 2 : 0;
    c.jitter = bits % 7;
    c.switchOnDelay = std::chrono::milliseconds(bits % 3);
    return c;
}

bool FrameFaultsOn(const SimConfig& c) {
    return c.corruptChecksum || c.wrongAddress || c.wrongOperation || c.shortReply > 0 ||
           c.noiseBytes > 0 || c.noiseOnly;
}

void CheckRequest(const Request& r) {
    Require(!r.raw.empty());
    switch (r.kind) {
        case RequestKind::Text:
            Require(!r.text.empty() && r.text.size() <= RequestParser::kMaxText);
            Require(r.text.find('\r') == std::string::npos);
            break;
        case RequestKind::DiscardedText:
            Require(r.raw.size() <= RequestParser::kMaxText + 1);
            break;
        case RequestKind::ReadRegister:
        case RequestKind::WriteRegister:
        case RequestKind::ModeControl:
            Require(r.raw.size() == k5::kReadRequestSize || r.raw.size() == k5::kWriteRequestSize);
            Require(r.raw.front() == k5::kFrameSync);
            Require(k5::FrameChecksum(std::span(r.raw).first(r.raw.size() - 1)) == r.raw.back());
            break;
        case RequestKind::MalformedFrame:
            Require(r.raw.size() >= 2 && r.raw.size() <= k5::kWriteRequestSize);
            Require(r.raw.front() == k5::kFrameSync);
            break;
    }
}

void CheckReply(const Request& r, const Reply& reply, const SimConfig& c) {
    Require(reply.delay >= std::chrono::milliseconds::zero());
    if (reply.bytes.empty()) {
        Require(reply.switchOnTicket != 0);
        return;
    }
    switch (r.kind) {
        case RequestKind::Text:
            Require(reply.bytes.size() >= 3 && reply.bytes.front() == '\r' &&
                    reply.bytes.back() == '\r');
            break;
        case RequestKind::ModeControl:
            Require(reply.bytes == r.raw);
            break;
        case RequestKind::ReadRegister:
        case RequestKind::WriteRegister:
            if (!FrameFaultsOn(c)) {
                const uint8_t op = r.kind == RequestKind::ReadRegister ? k5::kOpRead : k5::kOpWrite;
                uint32_t value = 0;
                Require(k5::ValidateRegisterReply(reply.bytes, op, r.address, value) ==
                        k5::ReplyCheck::Ok);
            }
            Require(reply.bytes.size() <= k5::kRegisterReplySize + 4096);
            break;
        default:
            Require(false);  // nothing else is ever answered
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const SimConfig config = FaultsFrom(data[0]);
    const size_t chunk = 1 + data[1] % 32;
    K5Model model(config);
    RequestParser parser;
    std::vector<Request> requests;
    const auto input = std::span(data + 2, size - 2);
    for (size_t at = 0; at < input.size(); at += chunk) {
        requests.clear();
        parser.Feed(input.subspan(at, std::min(chunk, input.size() - at)), requests);
        Require(parser.Buffered() <= RequestParser::kMaxText + k5::kWriteRequestSize);
        for (const Request& r : requests) {
            CheckRequest(r);
            const std::optional<Reply> reply = model.Handle(r);
            if (!reply) {
                continue;
            }
            CheckReply(r, *reply, model.Config());
            if (reply->switchOnTicket != 0) {
                model.CompleteSwitchOn(reply->switchOnTicket);
            }
        }
    }
    return 0;
}
