// Alt+D registered with Windows. A WM_HOTKEY stands for the key here: it is what the system
// posts to the tool's user-interface thread when the key is pressed in any program, and it
// takes the same way through the event dispatcher and the native event filter.
#include <gtest/gtest.h>
#include <windows.h>

#include <QCoreApplication>
#include <QTest>
#include <atomic>
#include <thread>

#include "recording_boxes.h"
#include "torvik/ui/global_hot_key.h"
#include "torvik/ui/torvik_dialog.h"

namespace k5::torvik::test {
namespace {

constexpr UINT kAltModifier = MOD_ALT;
constexpr UINT kVirtualKeyD = 0x44;

// Whether another program (another thread, which Windows treats alike) could take Alt+D.
bool AnotherProgramCanTakeAltD() {
    bool taken = false;
    std::thread other([&] {
        taken = RegisterHotKey(nullptr, 1, kAltModifier, kVirtualKeyD) != 0;
        if (taken) {
            UnregisterHotKey(nullptr, 1);
        }
    });
    other.join();
    return taken;
}

void PostHotKey(WPARAM id) {
    PostThreadMessageW(GetCurrentThreadId(), WM_HOTKEY, id, MAKELPARAM(MOD_ALT, kVirtualKeyD));
}

TEST(Win32HotKey, TheRegisteredKeySignalsOnceAndOtherHotKeysPassBy) {
    GlobalHotKey key;
    ASSERT_TRUE(key.Register());
    EXPECT_TRUE(key.IsRegistered());
    int activations = 0;
    QObject::connect(&key, &GlobalHotKey::activated, [&] { ++activations; });
    PostHotKey(17);
    PostHotKey(18);  // some other hot key of the thread: not ours
    QTest::qWait(100);
    EXPECT_EQ(activations, 1);
}

TEST(Win32HotKey, WhileRegisteredNoOtherProgramGetsAltDAndDestroyingGivesItBack) {
    {
        GlobalHotKey key;
        ASSERT_TRUE(key.Register());
        EXPECT_FALSE(AnotherProgramCanTakeAltD());
    }
    EXPECT_TRUE(AnotherProgramCanTakeAltD());
}

TEST(Win32HotKey, AKeyHeldByAnotherProgramIsRefusedQuietly) {
    bool held = false;
    std::atomic<bool> release = false;
    std::thread other([&] {
        held = RegisterHotKey(nullptr, 1, kAltModifier, kVirtualKeyD) != 0;
        while (!release) {
            Sleep(5);
        }
        if (held) {
            UnregisterHotKey(nullptr, 1);
        }
    });
    QTest::qWait(50);
    GlobalHotKey key;
    const bool registered = key.Register();
    release = true;
    other.join();
    ASSERT_TRUE(held);
    EXPECT_FALSE(registered);
    EXPECT_FALSE(key.IsRegistered());
}

TEST(Win32HotKey, ClosingTheWindowGivesTheKeyBackAndWithThePortClosedTheKeyDoesNothing) {
    RecordingBoxes boxes;
    CTORVIKDlg window(boxes);
    window.show();
    EXPECT_FALSE(AnotherProgramCanTakeAltD());  // the tool holds it
    PostHotKey(17);
    QTest::qWait(100);
    EXPECT_TRUE(boxes.Shown().empty());  // no port open: nothing to reset, nothing said
    EXPECT_TRUE(window.close());
    EXPECT_TRUE(AnotherProgramCanTakeAltD());
}

}  // namespace
}  // namespace k5::torvik::test
