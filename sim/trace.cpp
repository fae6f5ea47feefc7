#include "sim/trace.h"

#include <algorithm>
#include <cstdio>

namespace k5::sim {

namespace {

bool LooksLikeText(std::span<const uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) {
        return (b >= 0x20 && b < 0x7F) || b == '\r' || b == '\n' || b == '\t';
    });
}

}  // namespace

std::string EscapeBytes(std::span<const uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (uint8_t b : bytes) {
        switch (b) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            default:
                if (b >= 0x20 && b < 0x7F) {
                    out.push_back(static_cast<char>(b));
                } else {
                    char hex[5];
                    std::snprintf(hex, sizeof hex, "\\x%02X", b);
                    out += hex;
                }
                break;
        }
    }
    return out;
}

std::string FormatTraceLine(std::chrono::nanoseconds sinceStart, Direction direction,
                            std::span<const uint8_t> bytes) {
    const double ms = std::chrono::duration<double, std::milli>(sinceStart).count();
    char head[48];
    std::snprintf(head, sizeof head, "%10.3f ms  %s", ms, direction == Direction::In ? "->" : "<-");
    std::string line = head;
    for (uint8_t b : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", b);
        line += hex;
    }
    if (!bytes.empty() && LooksLikeText(bytes)) {
        line += "  \"" + EscapeBytes(bytes) + "\"";
    }
    return line;
}

}  // namespace k5::sim
