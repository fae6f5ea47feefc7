#include <windows.h>

#include <system_error>

#include "platform/os_error.h"

namespace k5 {

std::string ErrnoText(int error) {
    return std::generic_category().message(error);
}

std::string SystemErrorText(unsigned long error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result;
    if (length > 0 && text != nullptr) {
        result.assign(text, length);
        while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                                   result.back() == ' ' || result.back() == '.')) {
            result.pop_back();
        }
    }
    if (text != nullptr) {
        LocalFree(text);
    }
    if (result.empty()) {
        return "system error " + std::to_string(error);
    }
    return result + " (error " + std::to_string(error) + ")";
}

}  // namespace k5
