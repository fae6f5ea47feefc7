#pragma once

#include <string_view>

namespace k5::gui {

// Reads a k5sim trace (k5sim --trace) and tells whether the requests it heard unlock the
// protection registers, write STMAX, STPTE and STCLIP and then lock them again, in that
// order. The frames compared with come from the device link's own frame builders.
bool RegistersWrittenAndLocked(std::string_view trace);

}  // namespace k5::gui
