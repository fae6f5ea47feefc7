#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace k5 {

// What LockedAppendFile::Open accepts and what a failed Append leaves behind.
struct LockedAppendRules {
    // Only a regular file, and on POSIX systems not through a final symbolic link: a path
    // named on a command line may have a link or a device planted under it.
    bool regularFileOnly = true;
    // A write that falls short is cut back to the size the file had before, so the file never
    // keeps part of a text; otherwise what was written stays.
    bool cutBackShortWrite = true;
};

// A file that texts are added to, each in one write under a lock: k5ctl's production record
// and configuration reports, and the configuration tool's report file.
//
// Every Append takes a write lock on the whole file (on POSIX systems a record lock, which
// NFSv4, and NFSv3 with lockd, carry between clients), notes the file's size, writes the text
// in one write and flushes it before the lock is let go, so that texts of stations appending
// at once never interleave.
class LockedAppendFile {
public:
    // How long Append waits for another station's lock before it gives up.
    static constexpr std::chrono::seconds kLockWait{10};

    // Opens `path` for appending (created if missing); null, with the reason in `error`, when
    // it cannot be. On POSIX systems a file system that keeps no locks is refused here.
    static std::unique_ptr<LockedAppendFile> Open(const std::filesystem::path& path,
                                                  std::string& error, LockedAppendRules rules = {});
    ~LockedAppendFile();
    LockedAppendFile(const LockedAppendFile&) = delete;
    LockedAppendFile& operator=(const LockedAppendFile&) = delete;

    // Adds `text` at the end of the file; safe from several threads, which take turns. With
    // `ownLine`, a file that does not end in a line feed (a line torn by a station that
    // crashed mid-write) gets one first, so that `text` starts a line of its own. Empty on
    // success, otherwise why the text was not added.
    std::optional<std::string> Append(std::string_view text, bool ownLine);

    // The path it was opened under, for messages.
    const std::filesystem::path& Path() const { return path_; }

private:
    struct Native;
    LockedAppendFile(std::filesystem::path path, LockedAppendRules rules,
                     std::unique_ptr<Native> native);
    std::filesystem::path path_;
    LockedAppendRules rules_;
    std::unique_ptr<Native> native_;
    std::mutex appendMutex_;
};

}  // namespace k5
