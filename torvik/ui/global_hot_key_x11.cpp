#include <QCoreApplication>
#include <QGuiApplication>

#include "torvik/ui/global_hot_key.h"

#ifdef K5_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#endif

namespace k5::torvik {

#ifdef K5_HAVE_XCB
namespace {

constexpr uint32_t kKeysymLowerD = 0x0064;
constexpr uint16_t kAlt = XCB_MOD_MASK_1;
// Caps Lock and Num Lock (usually Mod2) must not hide the key, so each is grabbed as well.
constexpr uint16_t kIgnoredLocks[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                      XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
// Alt+D with Ctrl, Shift or the Super key held is a different key.
constexpr uint16_t kCheckedModifiers =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

xcb_connection_t* Connection() {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                   : nullptr;
    return x11 != nullptr ? x11->connection() : nullptr;
}

uint8_t KeycodeOf(xcb_connection_t* connection, uint32_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    std::unique_ptr<xcb_get_keyboard_mapping_reply_t, FreeDeleter> mapping(
        xcb_get_keyboard_mapping_reply(
            connection,
            xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<uint8_t>(count)),
            nullptr));
    if (!mapping) {
        return 0;
    }
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int perKeycode = mapping->keysyms_per_keycode;
    for (int i = 0; i < count; ++i) {
        for (int j = 0; j < perKeycode; ++j) {
            if (keysyms[i * perKeycode + j] == keysym) {
                return static_cast<uint8_t>(setup->min_keycode + i);
            }
        }
    }
    return 0;
}

}  // namespace
#endif

GlobalHotKey::GlobalHotKey(QObject* parent) : QObject(parent) {}

GlobalHotKey::~GlobalHotKey() {
    Unregister();
}

bool GlobalHotKey::Register() {
    Unregister();
#ifdef K5_HAVE_XCB
    xcb_connection_t* connection = Connection();
    if (connection == nullptr) {
        return false;
    }
    keycode_ = KeycodeOf(connection, kKeysymLowerD);
    if (keycode_ == 0) {
        return false;
    }
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    for (const uint16_t locks : kIgnoredLocks) {
        const xcb_void_cookie_t cookie = xcb_grab_key_checked(
            connection, 0, root_, kAlt | locks, keycode_, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        std::unique_ptr<xcb_generic_error_t, FreeDeleter> error(
            xcb_request_check(connection, cookie));
        if (error) {
            // Another client holds the key: give back what was taken, quietly.
            Unregister();
            return false;
        }
        grabbedModifiers_.push_back(kAlt | locks);
    }
    QCoreApplication::instance()->installNativeEventFilter(this);
    return true;
#else
    return false;
#endif
}

bool GlobalHotKey::IsRegistered() const {
    return !grabbedModifiers_.empty();
}

void GlobalHotKey::Unregister() {
#ifdef K5_HAVE_XCB
    if (grabbedModifiers_.empty()) {
        return;
    }
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
    if (xcb_connection_t* connection = Connection()) {
        for (const uint16_t modifiers : grabbedModifiers_) {
            xcb_ungrab_key(connection, keycode_, root_, modifiers);
        }
        // A round trip, so the key is free for other programs once this returns.
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    }
#endif
    grabbedModifiers_.clear();
    held_ = false;
    releaseTime_ = 0;
}

bool GlobalHotKey::nativeEventFilter(const QByteArray& eventType, void* message,
                                     qintptr* /*result*/) {
#ifdef K5_HAVE_XCB
    if (eventType != "xcb_generic_event_t" || message == nullptr) {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const uint8_t type = event->response_type & 0x7F;
    if (type == XCB_KEY_RELEASE) {
        // The grab reports the key's release too, whatever modifiers are still held.
        const auto* release = static_cast<const xcb_key_release_event_t*>(message);
        if (release->detail == keycode_ && held_) {
            held_ = false;
            releaseTime_ = release->time;
        }
        return false;
    }
    if (type != XCB_KEY_PRESS) {
        return false;
    }
    const auto* press = static_cast<const xcb_key_press_event_t*>(message);
    if (press->detail != keycode_ || (press->state & kCheckedModifiers) != kAlt) {
        return false;
    }
    const bool repeat = held_ || (releaseTime_ != 0 && press->time == releaseTime_);
    held_ = true;
    if (!repeat) {
        emit activated();
    }
    return true;  // taken here, so the window's own shortcut does not fire a second time
#else
    Q_UNUSED(eventType);
    Q_UNUSED(message);
    return false;
#endif
}

}  // namespace k5::torvik
