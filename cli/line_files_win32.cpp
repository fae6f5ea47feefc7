#include <windows.h>
// after windows.h, which they need
#include <io.h>

#include <algorithm>
#include <cstdint>
#include <system_error>

#include "cli/line_files.h"
#include "platform/os_error.h"

namespace k5::cli {

struct UnitLogFile::Native {
    HANDLE file = INVALID_HANDLE_VALUE;
};

UnitLogFile::UnitLogFile(std::filesystem::path path, std::unique_ptr<Native> native)
    : path_(std::move(path)), native_(std::move(native)) {}

UnitLogFile::~UnitLogFile() {
    CloseHandle(native_->file);
}

std::unique_ptr<UnitLogFile> UnitLogFile::Open(const std::filesystem::path& path,
                                               std::string& error) {
    // The reparse point itself is opened, not what it leads to, so that it can be refused.
    const HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = SystemErrorText(GetLastError());
        return nullptr;
    }
    auto native = std::make_unique<Native>();
    native->file = handle;
    std::unique_ptr<UnitLogFile> file(new UnitLogFile(path, std::move(native)));
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        error = "it is not a regular file";
        return nullptr;
    }
    if (info.nNumberOfLinks != 1) {
        error = "it has another name (a hard link)";
        return nullptr;
    }
    if (!SetEndOfFile(handle)) {  // at its start: emptied
        error = SystemErrorText(GetLastError());
        return nullptr;
    }
    return file;
}

std::optional<std::string> UnitLogFile::Write(std::string_view text) {
    while (!text.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size(), 1u << 20));
        if (!WriteFile(native_->file, text.data(), chunk, &written, nullptr) || written == 0) {
            return SystemErrorText(GetLastError());
        }
        text.remove_prefix(written);
    }
    return std::nullopt;
}

std::optional<std::string> MakeLogFolder(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (!std::filesystem::is_directory(path, ec)) {
        return ec ? ec.message() : std::string("it is not a folder");
    }
    return std::nullopt;
}

std::optional<std::string> ReadUnitsFile(const std::filesystem::path& path, std::string& text) {
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return SystemErrorText(GetLastError());
    }
    std::optional<std::string> error;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        error = "it is not a regular file";
    } else {
        // One byte more than the limit tells a file that is too large.
        std::string read(kUnitsFileLimit + 1, '\0');
        DWORD got = 0;
        size_t done = 0;
        while (done < read.size() &&
               ReadFile(handle, read.data() + done, static_cast<DWORD>(read.size() - done), &got,
                        nullptr) &&
               got > 0) {
            done += got;
        }
        if (done > kUnitsFileLimit) {
            error = "it is larger than " + std::to_string(kUnitsFileLimit) + " bytes";
        } else {
            read.resize(done);
            text = std::move(read);
        }
    }
    CloseHandle(handle);
    return error;
}

}  // namespace k5::cli
