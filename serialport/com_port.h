#pragma once

#include <string>
#include <vector>

namespace k5 {

// The device behind COM port n, or an empty string when nothing is behind it. On Linux, in
// this order: the environment variable K5_COM<n> when set (K5_COM3=/dev/ttyUSB0); else the
// kit's port table, which keeps the numbers of USB and other plug-in adapters (see
// ListComPorts); else /dev/ttyS<n-1> when a UART is really behind that node. A mapping that
// names a missing path is still used: the port then does not exist, and opening it fails
// with "no such device" naming that path, rather than quietly reaching some other device.
std::string ComPortDevicePath(unsigned portNumber);

// Non-zero if COM port n exists: a UART with hardware behind it, a USB or ACM serial device,
// or a pseudo-terminal. Nothing is opened to decide (opening a UART toggles its modem lines).
int PortExists(unsigned portNumber);

// Where a COM number's device comes from.
enum class ComPortSource {
    None,         // nothing is mapped to the number
    Environment,  // K5_COM<n>
    Table,        // the kit's port table
    System,       // the system's own numbering (a built-in UART)
};

struct ComPortInfo {
    unsigned number = 0;     // 0: an adapter the port table could not number
    std::string devicePath;  // what Open opens; empty when nothing is mapped
    std::string node;        // the device node a link such as a by-id path reaches
    ComPortSource source = ComPortSource::None;
    std::string description;  // the adapter's own name, e.g. "FT232R USB UART"; may be empty
    bool exists = false;      // as PortExists answers
};

// What COM port n resolves to, for the windows' tool tips; nothing is opened or written.
ComPortInfo DescribeComPort(unsigned portNumber);

// Every COM number in use, in ascending order, followed by adapters that could not be given
// a number. An adapter seen for the first time is given the lowest free number and keeps it.
std::vector<ComPortInfo> ListComPorts();

// The tool tip of a COM number in the programs' port lists: its device and description.
std::string ComPortToolTip(const ComPortInfo& info);

// Short name of a source, as k5ctl lists it.
const char* ComPortSourceName(ComPortSource source);

}  // namespace k5
