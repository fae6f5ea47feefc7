#include "serialport/cancel_event.h"

#include <gtest/gtest.h>

#include <thread>

#include "devlink/device_link.h"

namespace k5 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(CancelEvent, PendingSignalIsConsumedByTheNextWaitOnly) {
    CancelEvent event;
    event.Set();
    event.Set();  // not counted: an event is set or not
    EXPECT_TRUE(event.IsSet());
    EXPECT_TRUE(event.WaitFor(0ms));
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.WaitFor(0ms));
}

TEST(CancelEvent, ZeroWaitOnlyPolls) {
    CancelEvent event;
    const auto start = Clock::now();
    EXPECT_FALSE(event.WaitFor(0ms));
    EXPECT_LT(Clock::now() - start, 5ms);
}

TEST(CancelEvent, WaitRunsItsFullTimeWithoutASignal) {
    CancelEvent event;
    const auto start = Clock::now();
    EXPECT_FALSE(event.WaitFor(30ms));
    EXPECT_GE(Clock::now() - start, 30ms);
}

TEST(CancelEvent, SignalFromAnotherThreadEndsTheWaitEarly) {
    CancelEvent event;
    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        event.Set();
    });
    const auto start = Clock::now();
    EXPECT_TRUE(event.WaitFor(10s));
    EXPECT_LT(Clock::now() - start, 5s);
    setter.join();
    EXPECT_FALSE(event.IsSet());
}

TEST(WaitOrCancel, TimeScaleShortensPausesButAPendingSignalStillWins) {
    CSerialComm port;
    CancelEvent event;
    DeviceLink link(port, event);
    link.SetTimeScale(0.001);
    const auto start = Clock::now();
    EXPECT_EQ(link.WaitOrCancel(18000), WaitResult::Elapsed);
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_GE(Clock::now() - start, 18ms);

    event.Set();
    EXPECT_EQ(link.WaitOrCancel(0), WaitResult::Cancelled);
    EXPECT_EQ(link.WaitOrCancel(0), WaitResult::Elapsed);
}

}  // namespace
}  // namespace k5
