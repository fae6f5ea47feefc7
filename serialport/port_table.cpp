// The port table's text: what a technician may write in it, and what the kit writes back.
#include "serialport/port_table.h"

#include <algorithm>
#include <charconv>
#include <set>
#include <sstream>
#include <string_view>

namespace k5 {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

std::string Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

PortTable ParsePortTable(const std::string& text) {
    PortTable table;
    std::set<std::string> paths;
    const bool marked = std::string_view(text).substr(0, kByteOrderMark.size()) == kByteOrderMark;
    std::istringstream lines(marked ? text.substr(kByteOrderMark.size()) : text);
    std::string raw;
    for (int lineNumber = 1; std::getline(lines, raw); ++lineNumber) {
        const std::string line = Trim(raw);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto refuse = [&](const std::string& why) {
            table.entries.clear();
            table.usable = false;
            table.problem = "line " + std::to_string(lineNumber) + ": " + why;
            return table;
        };
        const auto equals = line.find('=');
        const std::string name = Trim(line.substr(0, equals));
        const std::string path = equals == std::string::npos ? "" : Trim(line.substr(equals + 1));
        unsigned number = 0;
        const char* digits = name.data() + std::min<size_t>(3, name.size());
        const auto [end, ec] = std::from_chars(digits, name.data() + name.size(), number);
        if (equals == std::string::npos || name.size() < 4 ||
            (name.compare(0, 3, "COM") != 0 && name.compare(0, 3, "com") != 0) ||
            ec != std::errc() || end != name.data() + name.size() || *digits == '+' ||
            number == 0 || number > kHighestComPort || path.empty() || path.front() != '/') {
            return refuse("expected \"COM<n> = <device path>\" with n from 1 to 255");
        }
        if (table.entries.count(number) != 0) {
            return refuse("COM" + std::to_string(number) + " is given twice");
        }
        if (!paths.insert(path).second) {
            return refuse(path + " is given twice");
        }
        table.entries[number] = path;
    }
    return table;
}

std::string FormatPortTable(const PortTable& table) {
    std::string text =
        "# COM port numbers of serial adapters, kept by the K5 service kit.\n"
        "# One \"COM<n> = <device path>\" line per adapter; edit with care.\n";
    for (const auto& [number, path] : table.entries) {
        text += "COM" + std::to_string(number) + " = " + path + "\n";
    }
    return text;
}

}  // namespace k5
