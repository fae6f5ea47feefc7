#include <system_error>

#include "platform/os_error.h"

namespace k5 {

std::string ErrnoText(int error) {
    return std::generic_category().message(error);
}

std::string SystemErrorText(unsigned long error) {
    return ErrnoText(static_cast<int>(error));
}

}  // namespace k5
