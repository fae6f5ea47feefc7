#pragma once

#include <string>

namespace k5 {

// The device behind COM port n. On POSIX systems the environment variable K5_COM<n> names it
// when set (K5_COM3=/dev/ttyUSB0); otherwise it is /dev/ttyS<n-1>. A K5_COM<n> that names a
// missing path is still used: the port then does not exist, and opening it fails with "no
// such device" naming that path, rather than quietly reaching some other device.
std::string ComPortDevicePath(unsigned portNumber);

// Non-zero if COM port n exists (its device is present and is a character device); nothing
// is opened.
int PortExists(unsigned portNumber);

}  // namespace k5
