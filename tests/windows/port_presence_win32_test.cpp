// Whether a COM port exists, under Wine as on Windows: the port the simulated K5 is mapped
// to (scripts/wine-sim-test.sh names it in K5_TEST_COM) exists, a number nothing maps does not.
#include <gtest/gtest.h>

#include <cstdlib>

#include "serialport/com_port.h"

namespace k5 {
namespace {

TEST(PortPresence, OnlyMappedNumbersExist) {
    // No system maps a COM300: the names end at COM256.
    EXPECT_EQ(PortExists(300), 0);
    EXPECT_FALSE(DescribeComPort(300).exists);

    const char* mapped = std::getenv("K5_TEST_COM");
    ASSERT_NE(mapped, nullptr) << "run through wine-sim-test.sh, which maps a simulated K5";
    const unsigned port = static_cast<unsigned>(std::strtoul(mapped, nullptr, 10));
    EXPECT_EQ(PortExists(port), 1) << "COM" << port;
    EXPECT_TRUE(DescribeComPort(port).exists) << "COM" << port;
}

}  // namespace
}  // namespace k5
