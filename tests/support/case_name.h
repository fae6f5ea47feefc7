#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <string_view>

namespace k5::test {

// A table case's description as a test name: letters and digits kept, every run of anything
// else one underscore ("calibrate: read-back mismatch" -> "calibrate_read_back_mismatch").
inline std::string CaseName(std::string_view description) {
    std::string name;
    bool gap = false;
    for (const char c : description) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
            if (gap && !name.empty()) {
                name.push_back('_');
            }
            name.push_back(c);
            gap = false;
        } else {
            gap = true;
        }
    }
    return name;
}

// Names each case of an INSTANTIATE_TEST_SUITE_P table after its `name` member.
struct ByCaseName {
    template <typename Case>
    std::string operator()(const testing::TestParamInfo<Case>& info) const {
        return CaseName(info.param.name);
    }
};

}  // namespace k5::test
