#include "tests/gui/register_trace.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "devlink/frames.h"
#include "devlink/registers.h"

namespace k5::gui {

namespace {

constexpr std::string_view kHeard = "  -> ";

// The bytes of one trace line towards the amplifier; empty for any other line.
std::vector<uint8_t> HeardBytes(std::string_view line) {
    const size_t at = line.find(kHeard);
    if (at == std::string_view::npos) {
        return {};
    }
    std::istringstream hex{std::string(line.substr(at + kHeard.size()))};
    std::vector<uint8_t> bytes;
    std::string pair;
    while (hex >> pair && pair.size() == 2 && std::isxdigit(static_cast<unsigned char>(pair[0])) &&
           std::isxdigit(static_cast<unsigned char>(pair[1]))) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
    }
    return bytes;
}

bool Same(std::span<const uint8_t> heard, std::span<const uint8_t> frame) {
    return std::ranges::equal(heard, frame);
}

// A write of `address`, whatever the value: everything before the value matches.
bool WritesTo(std::span<const uint8_t> heard, uint16_t address) {
    const WriteRequest any = BuildWriteRequest(address, 0);
    constexpr size_t kBeforeValue = 6;
    return heard.size() == any.size() &&
           std::ranges::equal(heard.first(kBeforeValue), std::span(any).first(kBeforeValue));
}

}  // namespace

bool RegistersWrittenAndLocked(std::string_view trace) {
    const WriteRequest unlock = BuildWriteRequest(kRegKey, kKeyWriteUnlock);
    const WriteRequest lock = BuildWriteRequest(kRegKey, kKeyWriteLock);
    bool unlocked = false;
    bool stmax = false;
    bool stpte = false;
    bool stclip = false;
    std::istringstream lines{std::string(trace)};
    std::string line;
    while (std::getline(lines, line)) {
        const std::vector<uint8_t> heard = HeardBytes(line);
        if (Same(heard, unlock)) {
            unlocked = true;
        } else if (Same(heard, lock)) {
            if (stmax && stpte && stclip) {
                return true;
            }
        } else if (unlocked) {
            stmax = stmax || WritesTo(heard, kRegStmax);
            stpte = stpte || WritesTo(heard, kRegStpte);
            stclip = stclip || WritesTo(heard, kRegStclip);
        }
    }
    return false;
}

}  // namespace k5::gui
