#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace k5::sim {

enum class Direction { In, Out };  // In: towards the amplifier; Out: from it

// One trace line: time since start, direction, every byte in hex, and the bytes as escaped
// text when they look like text, e.g.
//     "   12.345 ms  -> 0D 4D 61 69 6E ... 0D  \"\\rMain.Model?\\r\""
std::string FormatTraceLine(std::chrono::nanoseconds sinceStart, Direction direction,
                            std::span<const uint8_t> bytes);

// The bytes as C-style escaped text: \r, \n, \t, \\, \" and \xNN for the rest.
std::string EscapeBytes(std::span<const uint8_t> bytes);

}  // namespace k5::sim
