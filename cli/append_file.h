#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace k5::cli {

// A file that k5ctl adds its texts to: the production record and the configuration report.
// It is opened (created if missing) before anything goes on the line, so that a path that
// cannot be written is refused before the amplifier is touched, and stays open until the
// run's text is added.
//
// Every Append takes a write lock on the whole file (a POSIX record lock, which NFSv4, and
// NFSv3 with lockd, carry between clients), notes the file's size and writes the text in
// one write. A write that falls short (a full disk or quota, a file-size limit) is cut back
// to the noted size, so the file never keeps half a text of ours.
class AppendFile {
public:
    // How long Append waits for another station's lock before it gives up.
    static constexpr std::chrono::seconds kLockWait{10};

    // Opens `path` for appending; null, with the reason in `error`, when it cannot be. On
    // POSIX systems a final symbolic link is not followed and only a regular file is taken.
    static std::unique_ptr<AppendFile> Open(const std::filesystem::path& path, std::string& error);
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Adds `text` at the end of the file. With `ownLine`, a file that does not end in a line
    // feed (a line torn by a station that crashed mid-write) gets one first, so that `text`
    // starts a line of its own. Empty on success, otherwise why nothing was added.
    std::optional<std::string> Append(std::string_view text, bool ownLine);

    // The path it was opened under, for messages.
    const std::filesystem::path& Path() const { return path_; }

private:
    struct Native;
    AppendFile(std::filesystem::path path, std::unique_ptr<Native> native);
    std::filesystem::path path_;
    std::unique_ptr<Native> native_;
};

}  // namespace k5::cli
