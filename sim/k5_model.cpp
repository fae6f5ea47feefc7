#include "sim/k5_model.h"

#include <algorithm>
#include <charconv>

#include "devlink/frames.h"
#include "devlink/registers.h"

namespace k5::sim {

namespace {

constexpr std::string_view kModel = "Main.Model";
constexpr std::string_view kPower = "Main.Power";
constexpr std::string_view kSource = "Main.Source";
constexpr std::string_view kVolume = "Main.Volume";
constexpr std::string_view kMute = "Main.Mute";
constexpr std::string_view kTest = "Dsp.Test";

constexpr int kMinVolume = -100;
// However much noise is asked for, one reply carries no more than this.
constexpr size_t kMaxNoise = 4096;
constexpr int kMaxVolume = 20;

bool IsProtectionRegister(uint16_t address) {
    return address == kRegStmax || address == kRegStpte || address == kRegStclip;
}

// A setting's value: printable, no blanks, and none of the characters that frame a command.
bool PlainValue(std::string_view value) {
    return !value.empty() && std::all_of(value.begin(), value.end(), [](char c) {
        return c > ' ' && c < 0x7F && c != '=' && c != '?';
    });
}

std::optional<int> ParseVolume(std::string_view value) {
    if (value.empty() || value.size() > 4) {
        return std::nullopt;
    }
    if (value.front() == '+') {
        value.remove_prefix(1);
    }
    int volume = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), volume);
    if (error != std::errc() || end != value.data() + value.size() || volume < kMinVolume ||
        volume > kMaxVolume) {
        return std::nullopt;
    }
    return volume;
}

}  // namespace

const char* Describe(Power power) {
    switch (power) {
        case Power::Standby:
            return "Standby";
        case Power::SwitchingOn:
            return "SwitchingOn";
        case Power::On:
            return "On";
    }
    return "unknown";
}

bool AmpState::InTestState() const {
    return power == Power::On && source == "Coax1" && test == "1k" && volume == -8;
}

K5Model::K5Model(SimConfig config) : config_(std::move(config)) {
    state_.power = config_.standby ? Power::Standby : Power::On;
    state_.stmax = kDefaultStmax;
    state_.stpte = kDefaultStpte;
    state_.stclip = kDefaultStclip;
    // xorshift must not start from zero.
    random_ = config_.seed != 0 ? config_.seed : 0x9E3779B97F4A7C15ULL;
}

uint64_t K5Model::NextRandom() {
    random_ ^= random_ << 13;
    random_ ^= random_ >> 7;
    random_ ^= random_ << 17;
    return random_;
}

void K5Model::SetPower(bool on) {
    state_.power = on ? Power::On : Power::Standby;
    switchOnTicket_ = 0;
}

bool K5Model::CompleteSwitchOn(uint64_t ticket) {
    if (ticket == 0 || ticket != switchOnTicket_) {
        return false;
    }
    switchOnTicket_ = 0;
    state_.power = Power::On;
    return true;
}

std::optional<Reply> K5Model::Handle(const Request& request) {
    if (config_.silent) {
        return std::nullopt;
    }
    switch (request.kind) {
        case RequestKind::Text:
            return HandleText(request.text);
        case RequestKind::ReadRegister:
            return HandleRead(request.address);
        case RequestKind::WriteRegister:
            return HandleWrite(request.address, request.value);
        case RequestKind::ModeControl:
            return HandleModeControl(request.raw);
        case RequestKind::DiscardedText:
        case RequestKind::MalformedFrame:
            return std::nullopt;
    }
    return std::nullopt;
}

Reply K5Model::Finish(Reply reply) const {
    reply.delay += config_.slowReplies;
    reply.delay = std::max(reply.delay, std::chrono::milliseconds::zero());
    return reply;
}

std::optional<Reply> K5Model::TextReply(std::string text, uint64_t switchOnTicket) {
    Reply reply;
    reply.switchOnTicket = switchOnTicket;
    if (config_.dropTextReplies > 0) {
        // Lost on the line: the command took effect, only its answer is missing.
        --config_.dropTextReplies;
        if (switchOnTicket == 0) {
            return std::nullopt;
        }
    } else {
        reply.bytes.reserve(text.size() + 2);
        reply.bytes.push_back('\r');
        reply.bytes.insert(reply.bytes.end(), text.begin(), text.end());
        reply.bytes.push_back('\r');
    }
    if (switchOnTicket != 0) {
        reply.delay = config_.switchOnDelay;
    }
    return Finish(std::move(reply));
}

std::optional<Reply> K5Model::HandleText(std::string_view text) {
    const size_t mark = text.find_first_of("?=");
    if (mark == 0 || mark == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view path = text.substr(0, mark);
    if (std::find(config_.ignorePaths.begin(), config_.ignorePaths.end(), path) !=
            config_.ignorePaths.end() ||
        std::find(config_.ignoreCommands.begin(), config_.ignoreCommands.end(), text) !=
            config_.ignoreCommands.end()) {
        return std::nullopt;
    }
    if (text[mark] == '?') {
        if (mark + 1 != text.size()) {
            return std::nullopt;
        }
        return HandleQuery(path);
    }
    return HandleAssignment(path, text.substr(mark + 1));
}

std::optional<Reply> K5Model::HandleQuery(std::string_view path) {
    if (path == kModel) {
        return TextReply(std::string(kModel) + "=" + config_.model);
    }
    if (path == kPower) {
        std::string answer = config_.powerAnswer;
        if (answer.empty()) {
            answer = state_.power == Power::On ? "On" : "Off";
        }
        return TextReply(std::string(kPower) + "=" + answer);
    }
    // In standby only the model and the power state are answered.
    if (state_.power != Power::On) {
        return std::nullopt;
    }
    if (path == kSource) {
        return TextReply(std::string(kSource) + "=" + state_.source);
    }
    if (path == kTest) {
        return TextReply(std::string(kTest) + "=" + state_.test);
    }
    if (path == kVolume) {
        return TextReply(std::string(kVolume) + "=" + std::to_string(state_.volume));
    }
    if (path == kMute) {
        return TextReply(std::string(kMute) + "=" + (state_.mute ? "On" : "Off"));
    }
    return std::nullopt;
}

std::optional<Reply> K5Model::HandleAssignment(std::string_view path, std::string_view value) {
    const std::string echo = std::string(path) + "=" + std::string(value);
    if (path == kPower) {
        if (value == "Off") {
            SetPower(false);
            return TextReply(echo);
        }
        if (value != "On") {
            return std::nullopt;
        }
        switch (state_.power) {
            case Power::On:
                return TextReply(echo);
            case Power::SwitchingOn:
                // The echo of the first request answers this one as well.
                return std::nullopt;
            case Power::Standby:
                if (config_.switchOnDelay <= std::chrono::milliseconds::zero()) {
                    state_.power = Power::On;
                    return TextReply(echo);
                }
                state_.power = Power::SwitchingOn;
                switchOnTicket_ = ++lastTicket_;
                return TextReply(echo, switchOnTicket_);
        }
        return std::nullopt;
    }
    if (state_.power != Power::On) {
        return std::nullopt;
    }
    if (path == kSource || path == kTest) {
        if (!PlainValue(value)) {
            return std::nullopt;
        }
        (path == kSource ? state_.source : state_.test) = std::string(value);
        return TextReply(echo);
    }
    if (path == kVolume) {
        const std::optional<int> volume = ParseVolume(value);
        if (!volume) {
            return std::nullopt;
        }
        state_.volume = *volume;
        return TextReply(echo);
    }
    if (path == kMute) {
        if (value != "On" && value != "Off") {
            return std::nullopt;
        }
        state_.mute = value == "On";
        return TextReply(echo);
    }
    return std::nullopt;
}

uint32_t K5Model::Conductance(uint32_t reading) {
    uint32_t low = 0;
    if (state_.InTestState()) {
        int64_t value = reading & kConductanceMask;
        if (config_.jitter > 0) {
            const uint64_t span = uint64_t{config_.jitter} * 2 + 1;
            value += static_cast<int64_t>(NextRandom() % span) - int64_t{config_.jitter};
        }
        low = static_cast<uint32_t>(std::clamp<int64_t>(value, 0, kConductanceMask));
    }
    const uint32_t high = config_.junk ? static_cast<uint32_t>(NextRandom() >> 32) : 0;
    return (high & ~kConductanceMask) | low;
}

uint32_t K5Model::ReadRegister(uint16_t address) {
    switch (address) {
        case kRegLeftHighCont:
            return Conductance(config_.left);
        case kRegRightHighCont:
            return Conductance(config_.right);
        case kRegStmax:
            return state_.stmax;
        case kRegStpte:
            return state_.stpte;
        case kRegStclip:
            return state_.stclip;
        default:
            return 0;
    }
}

std::optional<Reply> K5Model::HandleRead(uint16_t address) {
    uint32_t value = ReadRegister(address);
    if (config_.readbackMismatch && IsProtectionRegister(address)) {
        value ^= 1U;
    }
    const RegisterReply frame = BuildRegisterReply(kOpRead, address, value);
    Reply reply;
    reply.bytes = ApplyFrameFaults(address, {frame.begin(), frame.end()});
    return Finish(std::move(reply));
}

std::optional<Reply> K5Model::HandleWrite(uint16_t address, uint32_t value) {
    if (IsProtectionRegister(address)) {
        if (state_.locked || config_.refuseWrites) {
            return std::nullopt;
        }
        switch (address) {
            case kRegStmax:
                state_.stmax = value;
                break;
            case kRegStpte:
                state_.stpte = value;
                break;
            default:
                state_.stclip = value;
                break;
        }
    } else if (address == kRegKey) {
        if (value == kKeyWriteUnlock) {
            state_.locked = false;
        } else if (value == kKeyWriteLock) {
            state_.locked = true;
        } else if (value == kKeyRestoreDefaults) {
            state_.stmax = kDefaultStmax;
            state_.stpte = kDefaultStpte;
            state_.stclip = kDefaultStclip;
        }
    }
    // Other registers are read-only or unknown here: the write is answered and has no effect.
    const RegisterReply frame = BuildRegisterReply(kOpWrite, address, value);
    Reply reply;
    reply.bytes = ApplyFrameFaults(address, {frame.begin(), frame.end()});
    return Finish(std::move(reply));
}

std::optional<Reply> K5Model::HandleModeControl(const std::vector<uint8_t>& frame) {
    const ModeControlFrame on = BuildBurnInFrame(true);
    const ModeControlFrame off = BuildBurnInFrame(false);
    if (std::equal(frame.begin(), frame.end(), on.begin(), on.end())) {
        state_.burnIn = true;
    } else if (std::equal(frame.begin(), frame.end(), off.begin(), off.end())) {
        state_.burnIn = false;
    } else {
        return std::nullopt;
    }
    Reply reply;
    reply.bytes = frame;
    return Finish(std::move(reply));
}

std::vector<uint8_t> K5Model::ApplyFrameFaults(uint16_t address, std::vector<uint8_t> frame) {
    if (config_.faultAddress && *config_.faultAddress != address) {
        return frame;
    }
    const bool faulty = config_.wrongOperation || config_.wrongAddress || config_.corruptChecksum ||
                        config_.shortReply > 0 || config_.noiseBytes > 0 || config_.noiseOnly;
    if (faulty && config_.faultSkip > 0) {
        --config_.faultSkip;
        return frame;
    }
    const auto resum = [&frame] {
        frame.back() = FrameChecksum(std::span<const uint8_t>(frame.data(), frame.size() - 1));
    };
    if (config_.wrongOperation) {
        frame[3] = frame[3] == kOpRead ? kOpWrite : kOpRead;
        resum();
    }
    if (config_.wrongAddress) {
        const uint16_t other = static_cast<uint16_t>(address + 1);
        frame[4] = static_cast<uint8_t>(other >> 8);
        frame[5] = static_cast<uint8_t>(other & 0xFF);
        resum();
    }
    if (config_.corruptChecksum) {
        frame.back() = static_cast<uint8_t>(frame.back() + 1);
    }
    if (config_.shortReply > 0 && config_.shortReply < frame.size()) {
        frame.resize(config_.shortReply);
    }
    if (config_.noiseBytes > 0 || config_.noiseOnly) {
        std::vector<uint8_t> noise;
        const size_t count =
            config_.noiseBytes > 0 ? std::min(config_.noiseBytes, kMaxNoise) : frame.size();
        noise.reserve(count + (config_.noiseOnly ? 0 : frame.size()));
        for (size_t i = 0; i < count; ++i) {
            // Never FF, so the noise cannot pass for the start of a frame.
            noise.push_back(static_cast<uint8_t>(NextRandom() % 0xFF));
        }
        if (!config_.noiseOnly) {
            noise.insert(noise.end(), frame.begin(), frame.end());
        }
        return noise;
    }
    return frame;
}

}  // namespace k5::sim
