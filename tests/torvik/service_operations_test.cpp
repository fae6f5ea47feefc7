#include "torvik/service_operations.h"

#include <gtest/gtest.h>

#include <vector>

#include "devlink/registers.h"
#include "sim_fixture.h"

namespace k5::torvik {
namespace {

using test::SimLink;

TEST(BurnIn, SendsTheExactFrames) {
    SimLink line({});
    ASSERT_TRUE(line.Ready());
    SetBurnInMode(line.Link(), true);
    EXPECT_TRUE(line.Sim().State().burnIn);
    SetBurnInMode(line.Link(), false);
    EXPECT_FALSE(line.Sim().State().burnIn);

    const std::vector<sim::Request> requests = line.Sim().Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].raw, (std::vector<uint8_t>{0xFF, 0x04, 0x02, 0x02, 0xFF, 0x55, 0x5B}));
    EXPECT_EQ(requests[1].raw, (std::vector<uint8_t>{0xFF, 0x04, 0x02, 0x02, 0xFF, 0xAA, 0xB0}));
}

TEST(RegisterReset, RestoresDefaultsAndSaysSo) {
    SimLink line({});
    ASSERT_TRUE(line.Ready());
    EXPECT_TRUE(ResetRegistersToDefaults(line.Link()));
    const std::vector<sim::Request> requests = line.Sim().Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].kind, sim::RequestKind::WriteRegister);
    EXPECT_EQ(requests[0].address, kRegKey);
    EXPECT_EQ(requests[0].value, kKeyRestoreDefaults);
    EXPECT_EQ(RegisterResetText(true), "Set AMP regsiters to default values: OK");
}

TEST(RegisterReset, NoAnswerIsAnError) {
    SimLink line({.silent = true});
    ASSERT_TRUE(line.Ready());
    EXPECT_FALSE(ResetRegistersToDefaults(line.Link()));
    EXPECT_EQ(RegisterResetText(false), "Set AMP regsiters to default values: Error!");
}

}  // namespace
}  // namespace k5::torvik
