#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace k5::cli {

// A unit's log in --log-dir. The folder may be one that others can write: the file is opened
// without following a link, and taken only when it is a regular file of this user with one
// link (on Windows: a plain file with one link that is no reparse point); it is then emptied,
// so that a rerun into the same folder starts it afresh.
class UnitLogFile {
public:
    // Null, with `error` set to why, when the file cannot be taken.
    static std::unique_ptr<UnitLogFile> Open(const std::filesystem::path& path, std::string& error);
    ~UnitLogFile();
    UnitLogFile(const UnitLogFile&) = delete;
    UnitLogFile& operator=(const UnitLogFile&) = delete;

    // Adds `text` at the end; empty on success, otherwise why it was not added.
    std::optional<std::string> Write(std::string_view text);
    const std::filesystem::path& Path() const { return path_; }

private:
    struct Native;
    UnitLogFile(std::filesystem::path path, std::unique_ptr<Native> native);
    std::filesystem::path path_;
    std::unique_ptr<Native> native_;
};

// Makes the --log-dir folder (0755) and its parents where missing; empty, or why not.
std::optional<std::string> MakeLogFolder(const std::filesystem::path& path);

// The largest --units file read.
inline constexpr std::size_t kUnitsFileLimit = 64 * 1024;

// Reads a --units file without following a final link, at most kUnitsFileLimit bytes; empty,
// or why it was not read.
std::optional<std::string> ReadUnitsFile(const std::filesystem::path& path, std::string& text);

}  // namespace k5::cli
