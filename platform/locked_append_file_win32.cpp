#include <windows.h>

#include <chrono>
#include <string>

#include "platform/locked_append_file.h"
#include "platform/os_error.h"

namespace k5 {

namespace {

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

struct LockedAppendFile::Native {
    HANDLE file = INVALID_HANDLE_VALUE;
};

LockedAppendFile::LockedAppendFile(std::filesystem::path path, LockedAppendRules rules,
                                   std::unique_ptr<Native> native)
    : path_(std::move(path)), rules_(rules), native_(std::move(native)) {}

LockedAppendFile::~LockedAppendFile() {
    CloseHandle(native_->file);
}

std::unique_ptr<LockedAppendFile> LockedAppendFile::Open(const std::filesystem::path& path,
                                                         std::string& error,
                                                         LockedAppendRules rules) {
    // Read access too, to see whether the file ends its last line; write access (not append
    // only) so that a short write can be cut back.
    const HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = SystemErrorText(GetLastError());
        return nullptr;
    }
    auto native = std::make_unique<Native>();
    native->file = handle;
    std::unique_ptr<LockedAppendFile> file(new LockedAppendFile(path, rules, std::move(native)));
    if (rules.regularFileOnly && GetFileType(handle) != FILE_TYPE_DISK) {
        error = "not a regular file";
        return nullptr;
    }
    return file;
}

std::optional<std::string> LockedAppendFile::Append(std::string_view text, bool ownLine) {
    // The file lock does not exclude the threads of one process; this does.
    const std::lock_guard threads(appendMutex_);
    const HANDLE file = native_->file;
    // Another station's lock lasts one write; a short nap between tries.
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    DWORD error = 0;
    while (!LockWholeFile(file, error)) {
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
            return "cannot lock the file: " + SystemErrorText(error);
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
        return SystemErrorText(error);
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
        failure = error != 0 ? SystemErrorText(error)
                             : "short write (" + std::to_string(written) + " of " +
                                   std::to_string(data.size()) + " bytes)";
        if (rules_.cutBackShortWrite &&
            (!SetFilePointerEx(file, size, nullptr, FILE_BEGIN) || !SetEndOfFile(file))) {
            *failure +=
                "; the partial text could not be removed: " + SystemErrorText(GetLastError());
        }
    }
    Unlock(file);
    return failure;
}

}  // namespace k5
