#include <windows.h>

#include <chrono>

#include "cli/append_file.h"

namespace k5::cli {

namespace {

std::string ErrorText(DWORD error) {
    return "error " + std::to_string(error);
}

OVERLAPPED At(LONGLONG offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

// The whole file, present and future bytes alike.
bool LockWholeFile(HANDLE file, DWORD& error) {
    OVERLAPPED start = At(0);
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                   &start)) {
        return true;
    }
    error = GetLastError();
    return false;
}

void Unlock(HANDLE file) {
    OVERLAPPED start = At(0);
    UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &start);
}

}  // namespace

struct AppendFile::Native {
    HANDLE file = INVALID_HANDLE_VALUE;
};

AppendFile::AppendFile(std::filesystem::path path, std::unique_ptr<Native> native)
    : path_(std::move(path)), native_(std::move(native)) {}

AppendFile::~AppendFile() {
    CloseHandle(native_->file);
}

std::unique_ptr<AppendFile> AppendFile::Open(const std::filesystem::path& path,
                                             std::string& error) {
    // Read access too, to see whether the file ends its last line; write access (not append
    // only) so that a short write can be cut back.
    const HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = "cannot open the file (" + ErrorText(GetLastError()) + ")";
        return nullptr;
    }
    auto native = std::make_unique<Native>();
    native->file = handle;
    std::unique_ptr<AppendFile> file(new AppendFile(path, std::move(native)));
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        error = "not a regular file";
        return nullptr;
    }
    return file;
}

std::optional<std::string> AppendFile::Append(std::string_view text, bool ownLine) {
    const HANDLE file = native_->file;
    // Another station's lock lasts one write; a short nap between tries.
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    DWORD error = 0;
    while (!LockWholeFile(file, error)) {
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
            return "cannot lock the file (" + ErrorText(error) + ")";
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return "another program has kept the file locked for " +
                   std::to_string(kLockWait.count()) + " s";
        }
        Sleep(50);
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        error = GetLastError();
        Unlock(file);
        return ErrorText(error);
    }
    std::string data;
    if (ownLine && size.QuadPart > 0) {
        char last = '\n';
        DWORD read = 0;
        OVERLAPPED lastByte = At(size.QuadPart - 1);
        if (ReadFile(file, &last, 1, &read, &lastByte) && read == 1 && last != '\n') {
            data.push_back('\n');
        }
    }
    data.append(text);

    DWORD written = 0;
    OVERLAPPED end = At(size.QuadPart);
    const BOOL ok = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, &end);
    error = ok ? 0 : GetLastError();
    if (ok && written == data.size() && !FlushFileBuffers(file)) {
        error = GetLastError();
    }
    std::optional<std::string> failure;
    if (error != 0 || written != data.size()) {
        failure = error != 0 ? "write failed (" + ErrorText(error) + ")"
                             : "short write (" + std::to_string(written) + " of " +
                                   std::to_string(data.size()) + " bytes)";
        if (!SetFilePointerEx(file, size, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
            *failure +=
                "; the partial text could not be removed (" + ErrorText(GetLastError()) + ")";
        }
    }
    Unlock(file);
    return failure;
}

}  // namespace k5::cli
