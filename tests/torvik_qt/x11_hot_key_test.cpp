// Alt+D grabbed on the X display. These tests need a real X server: their own test entry
// runs them under xvfb-run and types the keys through the XTEST extension, as a keyboard
// would, so the key reaches the tool through the grab and not through a focused window.
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <QGuiApplication>
#include <cstdlib>
#include <memory>

#include "nesting_boxes.h"
#include "torvik/ui/global_hot_key.h"
#include "window_fixture.h"

namespace k5::torvik::test {
namespace {

constexpr uint32_t kKeysymAltL = 0xFFE9;
constexpr uint32_t kKeysymLowerD = 0x0064;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

uint8_t Keycode(xcb_connection_t* connection, uint32_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    std::unique_ptr<xcb_get_keyboard_mapping_reply_t, FreeDeleter> mapping(
        xcb_get_keyboard_mapping_reply(
            connection,
            xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<uint8_t>(count)),
            nullptr));
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    for (int i = 0; i < count * mapping->keysyms_per_keycode; ++i) {
        if (keysyms[i] == keysym) {
            return static_cast<uint8_t>(setup->min_keycode + i / mapping->keysyms_per_keycode);
        }
    }
    return 0;
}

// A second client on the same display, standing for another program.
class OtherClient {
public:
    OtherClient() : connection_(xcb_connect(nullptr, nullptr)) {}
    ~OtherClient() { xcb_disconnect(connection_); }

    bool Connected() const { return xcb_connection_has_error(connection_) == 0; }
    xcb_window_t Root() const {
        return xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    }

    // True when the server granted the grab of Alt+D.
    bool GrabAltD() {
        const xcb_void_cookie_t cookie = xcb_grab_key_checked(
            connection_, 0, Root(), XCB_MOD_MASK_1, Keycode(connection_, kKeysymLowerD),
            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        std::unique_ptr<xcb_generic_error_t, FreeDeleter> error(
            xcb_request_check(connection_, cookie));
        return !error;
    }

    // Alt+D typed once; D is held down for `holdMs`, long enough for the server to repeat it.
    void TypeAltD(int holdMs = 0) {
        const uint8_t alt = Keycode(connection_, kKeysymAltL);
        const uint8_t d = Keycode(connection_, kKeysymLowerD);
        Fake(XCB_KEY_PRESS, alt);
        Fake(XCB_KEY_PRESS, d);
        xcb_flush(connection_);
        if (holdMs > 0) {
            QTest::qWait(holdMs);
        }
        Fake(XCB_KEY_RELEASE, d);
        Fake(XCB_KEY_RELEASE, alt);
        xcb_flush(connection_);
    }

private:
    void Fake(uint8_t type, uint8_t key) {
        xcb_test_fake_input(connection_, type, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }

    xcb_connection_t* connection_;
};

class X11HotKey : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
            GTEST_SKIP() << "needs an X display (run under xvfb-run with QT_QPA_PLATFORM=xcb)";
        }
        ASSERT_TRUE(other_.Connected());
    }

    OtherClient other_;
    NestingBoxes nesting_;
};

size_t RestoreWrites(const sim::Simulator& sim) {
    size_t count = 0;
    for (const sim::Request& request : sim.Requests()) {
        count += request.kind == sim::RequestKind::WriteRegister && request.value == 0x3C71D2A9u;
    }
    return count;
}

// Typed while another program has the focus, the key reaches the tool only through the
// grab, and the tool asks before it resets. The grab takes the key from the tool's own
// window too: the tool is active then and resets at once.
TEST_F(X11HotKey, AsksOnlyWhileNoWindowOfTheToolIsActive) {
    StartSim({.left = 760, .right = 760});
    MakeWindow();  // not shown yet: only the grab can bring it the key
    OpenCom8();
    const QString ok = QStringLiteral("Set AMP regsiters to default values: OK");
    boxes_.AnswerNext(qtkit::MessageAnswer::Yes);
    other_.TypeAltD();
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes_.Shown().size() >= 2; }, 5000));
    EXPECT_EQ(boxes_.Shown()[0].icon, qtkit::MessageIcon::Question);
    EXPECT_EQ(boxes_.Shown()[1].text, ok);
    EXPECT_EQ(RestoreWrites(*sim_), 1u);

    boxes_.Forget();
    Window().show();
    Window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
    other_.TypeAltD();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes_.Shown().empty(); }, 5000));
    QTest::qWait(200);
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].text, ok);
    EXPECT_EQ(RestoreWrites(*sim_), 2u);
}

TEST_F(X11HotKey, AHeldKeyAsksOnceAndAPressWhileItsBoxesAreOpenNotAtAll) {
    StartSim({.left = 760, .right = 760});
    window_ = std::make_unique<CTORVIKDlg>(
        nesting_, TorvikOptions{.reportPath = ReportPath(), .timeScale = kFastTimeScale});
    OpenCom8();

    // Held down until it repeats: the question of the first press is answered at once, the
    // repeats ask nothing and reset nothing.
    nesting_.AnswerNext(qtkit::MessageAnswer::Yes);
    other_.TypeAltD(/*holdMs=*/1500);
    ASSERT_TRUE(QTest::qWaitFor([&] { return nesting_.Shown().size() >= 2; }, 5000));
    QTest::qWait(300);
    EXPECT_EQ(nesting_.Shown().size(), 2u);
    EXPECT_EQ(RestoreWrites(*sim_), 1u);

    // Pressed again while the question is open: nothing more.
    nesting_.AnswerNext(qtkit::MessageAnswer::Yes);
    nesting_.WhileShowing([&] {
        other_.TypeAltD();
        QTest::qWait(300);
    });
    other_.TypeAltD();
    ASSERT_TRUE(QTest::qWaitFor([&] { return nesting_.Shown().size() >= 4; }, 5000));
    QTest::qWait(300);
    EXPECT_EQ(nesting_.Shown().size(), 4u);
    EXPECT_EQ(RestoreWrites(*sim_), 2u);
}

TEST_F(X11HotKey, WithThePortClosedTheGrabbedKeyDoesNothing) {
    StartSim({.left = 760, .right = 760});
    MakeWindow();
    other_.TypeAltD();
    QTest::qWait(200);
    EXPECT_TRUE(boxes_.Shown().empty());
    EXPECT_FALSE(sim_->WaitForRequests(1, std::chrono::milliseconds(10)));
}

TEST_F(X11HotKey, AKeyHeldByAnotherProgramIsRefusedQuietly) {
    ASSERT_TRUE(other_.GrabAltD());
    GlobalHotKey key;
    EXPECT_FALSE(key.Register());
    EXPECT_FALSE(key.IsRegistered());
}

TEST_F(X11HotKey, ClosingTheWindowGivesTheKeyBack) {
    MakeWindow();
    Window().show();
    EXPECT_FALSE(other_.GrabAltD());  // the tool holds it
    EXPECT_TRUE(Window().close());
    EXPECT_TRUE(other_.GrabAltD());
}

}  // namespace
}  // namespace k5::torvik::test
