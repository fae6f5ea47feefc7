#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace k5 {

// The kit keeps file names as UTF-8 text (k5ctl reads its command line as UTF-16 on Windows
// and passes it on so). A path made from a narrow string would take it in the system's
// code page on Windows; these keep every name whole on every system.
inline std::filesystem::path PathFromUtf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace k5
