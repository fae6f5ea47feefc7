#include <windows.h>

#include <system_error>

#include "platform/os_error.h"

namespace k5 {

std::string ErrnoText(int error) {
    return std::generic_category().message(error);
}

std::string SystemErrorText(unsigned long error) {
    // The wide text, in the user's language whatever the ANSI code page can write, as UTF-8
    // like every other text of the kit.
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string result;
    if (length > 0 && text != nullptr) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                             nullptr, nullptr);
        if (size > 0) {
            result.resize(static_cast<size_t>(size));
            WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), result.data(), size,
                                nullptr, nullptr);
        }
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
