#include "torvik/result_texts.h"

#include <array>

namespace k5::torvik {

namespace {

constexpr std::array<std::string_view, kLastResultCode + 1> kCompletionTexts = {
    "",
    "\nCan not find K5 unit,please check connection and try again.\n",
    "\nK5 connection error,please check connection and try again.\n",
    "\nGet wrong cofficient value,please check whether the 4ohms load is connected\n",
    "\nThe difference between left and right conductance is too large,please check the unit "
    "and try again\n",
    "\nSet AMP register value error,please check connection and try again\n",
};

}  // namespace

std::string_view CompletionText(int code) {
    if (code < 0 || code > kLastResultCode) {
        return {};
    }
    return kCompletionTexts[static_cast<size_t>(code)];
}

}  // namespace k5::torvik
