#pragma once

#include <map>
#include <string>
#include <string_view>

namespace k5 {

// The port record keeps an 8-bit number: COM1 to COM255.
inline constexpr unsigned kHighestComPort = 255;

// The table's file name in the kit's configuration folder.
inline constexpr const char* kPortTableFileName = "ports.conf";

// The kit's port table: "COM<n> = <path>" lines, one per adapter, keyed by the adapter's
// stable /dev/serial/by-id path where it has one. Blank lines and "#" comments are allowed.
struct PortTable {
    std::map<unsigned, std::string> entries;
    bool usable = true;  // false: unreadable or malformed; it is then ignored and never written
    std::string problem;
};

// A leading UTF-8 byte-order mark (an editor's habit) is skipped; any line that is not a
// clean entry makes the whole table unusable.
PortTable ParsePortTable(const std::string& text);
std::string FormatPortTable(const PortTable& table);

// `text` without the blanks and line ends around it, as the table's and sysfs's values are
// read.
std::string Trim(std::string_view text);

}  // namespace k5
