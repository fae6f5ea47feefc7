#pragma once

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace k5::torvik::test {

// Switches the C library's numeric conventions to German (a decimal comma) for the life of
// the object, as a desktop session in Germany does through the window toolkit. Where no
// German locale is installed, one is compiled into a scratch folder with localedef. Tests
// skip when Active() is false, and must not format numbers on other threads meanwhile.
class GermanNumericLocale {
public:
    GermanNumericLocale() {
        if (const char* current = std::setlocale(LC_NUMERIC, nullptr)) {
            previous_ = current;
        }
        // The POSIX names, then the Windows ones.
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "de-DE", "German_Germany"}) {
            if (std::setlocale(LC_NUMERIC, name) != nullptr) {
                return;
            }
        }
#ifndef _WIN32
        const std::filesystem::path dir = Compile();
        if (dir.empty()) {
            return;
        }
        ::setenv("LOCPATH", dir.c_str(), 1);
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
        ::unsetenv("LOCPATH");  // the data is loaded; nothing else should look there
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
#endif
    }
    ~GermanNumericLocale() {
        std::setlocale(LC_NUMERIC, previous_.c_str());
    }
    GermanNumericLocale(const GermanNumericLocale&) = delete;
    GermanNumericLocale& operator=(const GermanNumericLocale&) = delete;

    // The C library now writes 0.5 as "0,5".
    bool Active() const {
        char text[16];
        std::snprintf(text, sizeof text, "%g", 0.5);
        return std::string(text) == "0,5";
    }

private:
#ifndef _WIN32
    static std::filesystem::path Compile() {
        std::error_code error;
        const std::filesystem::path dir = std::filesystem::temp_directory_path(error) /
                                          ("k5-german-locale-" + std::to_string(::getpid()));
        if (error || !std::filesystem::create_directories(dir, error)) {
            return {};
        }
        const std::string command =
            "localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
        // localedef may warn (and say so in its status) and still write a usable locale.
        (void)std::system(command.c_str());
        if (!std::filesystem::exists(dir / "de_DE.UTF-8" / "LC_NUMERIC", error)) {
            std::filesystem::remove_all(dir, error);
            return {};
        }
        return dir;
    }
#endif

    std::string previous_ = "C";
};

}  // namespace k5::torvik::test
