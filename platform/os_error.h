#pragma once

#include <string>

namespace k5 {

// The system's text for a C library error number ("No such file or directory").
std::string ErrnoText(int error);

// The system's text for an operating-system error code: on Windows a GetLastError() code,
// given with its number ("Access is denied (error 5)"); elsewhere the same as ErrnoText.
std::string SystemErrorText(unsigned long error);

}  // namespace k5
