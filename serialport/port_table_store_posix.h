#pragma once

#include <filesystem>
#include <functional>

#include "serialport/port_table.h"

namespace k5 {

// The port table's file in a configuration folder. It is read without trusting it (a link,
// FIFO, device or oversized file is refused) and written whole: through a temporary file of
// its own, under a lock on the folder, so two programs never give one number twice. Root,
// which may run with an operator's $HOME, writes only into a folder root owns. Every
// problem is reported once per process as a notice (notices.h), and the table is then left
// as it is.
class PortTableStore {
public:
    explicit PortTableStore(std::filesystem::path folder);

    std::filesystem::path Path() const { return folder_ / kPortTableFileName; }

    // No folder or no file is an empty table; one that cannot be read or parsed is unusable.
    PortTable Read() const;

    // Under the folder's lock, reads the table again and lets `change` edit it; the table is
    // written when `change` returns true. Creates the folder where it may.
    void Update(const std::function<bool(PortTable&)>& change) const;

private:
    std::filesystem::path folder_;
};

}  // namespace k5
