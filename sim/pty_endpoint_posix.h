#pragma once

#include <memory>
#include <string>

#include "platform/unique_fd_posix.h"

namespace k5::sim {

// The amplifier's end of a pseudo-terminal: the master side, with the terminal side held open
// so that the line stays up while no client has it open. Optionally a symbolic link names the
// terminal. Everything it made is closed and removed when it goes.
class PtyEndpoint {
public:
    // Opens a new terminal, raw 8N1 at 115200 baud, and links `linkPath` to it when that is
    // not empty (replacing a symbolic link there, never anything else). nullptr with `error`
    // set when a step fails; what was made up to then is undone.
    static std::unique_ptr<PtyEndpoint> Open(const std::string& linkPath, std::string& error);

    ~PtyEndpoint();
    PtyEndpoint(const PtyEndpoint&) = delete;
    PtyEndpoint& operator=(const PtyEndpoint&) = delete;

    // The terminal's path, e.g. "/dev/pts/3".
    const std::string& Path() const { return path_; }

    // The master side, non-blocking; -1 once hung up.
    int MasterFd() const { return master_.Get(); }
    // Readable when a client closed the terminal; -1 where the system cannot watch for that.
    int CloseWatchFd() const { return closeWatch_.Get(); }

    // Takes the close events reported so far; whether no client holds the terminal any more.
    bool LastClientLeft();
    // Clears the exclusive-use flag a client set on the terminal.
    void ClearExclusiveUse();

    // Closes both sides: the client's descriptor reports a hang-up, and its reads and writes
    // fail from then on. The link stays until the endpoint goes.
    void HangUp();

private:
    PtyEndpoint() = default;
    bool Make(const std::string& linkPath, std::string& error);
    void RemoveLink();

    std::string path_;
    std::string link_;  // empty unless we made it
    UniqueFd master_;
    UniqueFd slave_;
    UniqueFd closeWatch_;  // inotify on the terminal's path
};

}  // namespace k5::sim
