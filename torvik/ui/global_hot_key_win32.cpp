#include <windows.h>

#include <QCoreApplication>

#include "torvik/ui/global_hot_key.h"

namespace k5::torvik {

namespace {

// The tool's hot key identifier, as the register-reset handler knows it.
constexpr int kHotKeyId = 17;
constexpr UINT kVirtualKeyD = 0x44;

}  // namespace

GlobalHotKey::GlobalHotKey(QObject* parent) : QObject(parent) {}

GlobalHotKey::~GlobalHotKey() {
    Unregister();
}

bool GlobalHotKey::IsRegistered() const {
    return registered_;
}

// The key belongs to the user-interface thread rather than to one native window: WM_HOTKEY
// then arrives in the thread's queue whichever window Qt has made, and the event
// dispatcher hands every message of that queue to the native event filters. A held key
// resets once, not once per auto-repeat.
bool GlobalHotKey::Register() {
    Unregister();
    if (QCoreApplication::instance() == nullptr) {
        return false;
    }
    if (RegisterHotKey(nullptr, kHotKeyId, MOD_ALT | MOD_NOREPEAT, kVirtualKeyD) == 0) {
        return false;  // another program holds Alt+D
    }
    registered_ = true;
    QCoreApplication::instance()->installNativeEventFilter(this);
    return true;
}

void GlobalHotKey::Unregister() {
    if (!registered_) {
        return;
    }
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
    UnregisterHotKey(nullptr, kHotKeyId);
    registered_ = false;
}

bool GlobalHotKey::nativeEventFilter(const QByteArray& eventType, void* message,
                                     qintptr* /*result*/) {
    if (eventType != "windows_generic_MSG" || message == nullptr) {
        return false;
    }
    const auto* msg = static_cast<const MSG*>(message);
    if (msg->message != WM_HOTKEY || msg->wParam != static_cast<WPARAM>(kHotKeyId)) {
        return false;
    }
    emit activated();
    return true;  // taken here, so the window's own shortcut does not fire a second time
}

}  // namespace k5::torvik
