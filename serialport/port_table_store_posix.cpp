// The port table on disk: bounded reads, whole writes under the folder's lock, and root's
// care with folders that may belong to someone else.
#include "serialport/port_table_store_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/os_error.h"
#include "platform/unique_fd_posix.h"
#include "serialport/bounded_file_posix.h"
#include "serialport/notices.h"

namespace k5 {

namespace fs = std::filesystem;

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool OwnedByRoot(int folder) {
    struct stat info {};
    return ::fstat(folder, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == 0;
}

// Root may run with an operator's $HOME or $XDG_CONFIG_HOME. It writes only into a real
// folder that root owns, and creates missing folders only below one, so it never leaves
// root's files in another user's home. Each step is opened without following links and
// checked on what was opened, so a folder swapped meanwhile is caught.
UniqueFd OpenFolderAsRoot(const fs::path& folder, std::string& why) {
    fs::path existing = folder.lexically_normal();
    if (!existing.has_filename()) {
        existing = existing.parent_path();  // a trailing "/"
    }
    std::vector<std::string> missing;
    struct stat info {};
    while (::lstat(existing.c_str(), &info) != 0) {
        if (errno != ENOENT || existing.empty()) {
            why = "cannot reach " + folder.string() + ": " + ErrnoText(errno);
            return UniqueFd();
        }
        missing.push_back(existing.filename().string());
        existing = existing.parent_path();
    }
    UniqueFd current(::open(existing.c_str(), kFolderFlags));
    fs::path reached = existing;
    for (auto name = missing.rbegin();; ++name) {
        const bool link = !current.Valid() && errno == ELOOP;
        if (!current.Valid() || !OwnedByRoot(current.Get())) {
            why = reached.string() +
                  (link ? " is a symbolic link" : " is not a folder owned by root");
            return UniqueFd();
        }
        if (name == missing.rend()) {
            return current;
        }
        if (::mkdirat(current.Get(), name->c_str(), 0755) != 0 && errno != EEXIST) {
            why = "cannot create " + (reached / *name).string() + ": " + ErrnoText(errno);
            return UniqueFd();
        }
        current = UniqueFd(::openat(current.Get(), name->c_str(), kFolderFlags));
        reached /= *name;
    }
}

// Takes flock() on the folder, so two programs numbering adapters at once cannot give one
// number twice. Gives up after two seconds rather than hang a program.
bool LockFolder(int folder) {
    using namespace std::chrono_literals;
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (::flock(folder, LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

// A fresh file beside the table, created exclusively under a name nobody can predict: a
// link or file planted in the folder is never followed, truncated or reused.
UniqueFd CreateTemporary(int folder, const std::string& stem, std::string& name) {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = stem + ".";
        for (int i = 0; i < 8; ++i) {
            name += kLetters[pick(random)];
        }
        UniqueFd file(::openat(folder, name.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (file.Valid() || errno != EEXIST) {
            return file;
        }
    }
    errno = EEXIST;
    return UniqueFd();
}

// Writes `text` as `name` in `folder` through a temporary file and a rename, so a reader sees
// the old table or the new one, never a part, whatever happens to the program or the disk.
bool WriteAtomically(int folder, const std::string& name, const std::string& text,
                     std::string& why) {
    std::string temporary;
    UniqueFd file = CreateTemporary(folder, name + ".tmp", temporary);
    if (!file.Valid()) {
        why = ErrnoText(errno);
        return false;
    }
    bool ok = true;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(file.Get(), text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            why = n == 0 ? ErrnoText(ENOSPC) : ErrnoText(errno);
            ok = false;
        }
    }
    // The umask does not decide who may read the table.
    if (ok && (::fchmod(file.Get(), 0644) != 0 || ::fsync(file.Get()) != 0)) {
        why = ErrnoText(errno);
        ok = false;
    }
    if (::close(file.Release()) != 0 && ok) {
        why = ErrnoText(errno);
        ok = false;
    }
    if (ok && ::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
        why = ErrnoText(errno);
        ok = false;
    }
    if (!ok) {
        ::unlinkat(folder, temporary.c_str(), 0);
        return false;
    }
    ::fsync(folder);  // the rename itself survives a power cut
    return true;
}

}  // namespace

PortTableStore::PortTableStore(fs::path folder) : folder_(std::move(folder)) {}

PortTable PortTableStore::Read() const {
    if (folder_.empty()) {
        return {};
    }
    const fs::path path = Path();
    const BoundedRead read = ReadBoundedFile(path.string(), kPortTableLimit);
    PortTable table;
    if (read.status == BoundedRead::Status::Missing) {
        return table;
    }
    if (read.status == BoundedRead::Status::Read) {
        table = ParsePortTable(read.text);
    } else {
        table.usable = false;
        table.problem = "cannot be read: " + read.reason;
    }
    if (!table.usable) {
        NoticeOnce(path.string(), "k5kit: ignoring the port table " + path.string() + " (" +
                                      table.problem + "); it is left as it is");
    }
    return table;
}

void PortTableStore::Update(const std::function<bool(PortTable&)>& change) const {
    if (folder_.empty()) {
        return;
    }
    UniqueFd folder;
    if (::geteuid() == 0) {
        std::string why;
        folder = OpenFolderAsRoot(folder_, why);
        if (!folder.Valid()) {
            NoticeOnce(Path().string() + "#root", "k5kit: not writing the port table " +
                                                      Path().string() + " as root: " + why +
                                                      "; new adapters get no number");
            return;
        }
    } else {
        std::error_code ec;
        fs::create_directories(folder_, ec);
        folder = UniqueFd(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    // Closing the folder releases the lock.
    if (!folder.Valid() || !LockFolder(folder.Get())) {
        NoticeOnce(folder_.string() + "#lock",
                   "k5kit: cannot lock " + folder_.string() + "; new adapters get no number");
        return;
    }
    PortTable table = Read();  // another program may have changed it meanwhile
    if (!table.usable || !change(table)) {
        return;
    }
    std::string why;
    if (!WriteAtomically(folder.Get(), kPortTableFileName, FormatPortTable(table), why)) {
        NoticeOnce(Path().string() + "#write",
                   "k5kit: cannot write the port table " + Path().string() + ": " + why);
    }
}

}  // namespace k5
