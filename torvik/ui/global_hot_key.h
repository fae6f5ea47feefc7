#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <cstdint>
#include <vector>

namespace k5::torvik {

// Alt+D for the whole desktop: on X11 a passive key grab on the root window, on Windows a
// hot key registered with the system (its WM_HOTKEY arrives through the native event
// filter), so the key reaches the tool whichever program has the keyboard focus. Elsewhere,
// or when another program already holds the key, registering fails and the caller carries
// on without it. A held key activates once: its auto-repeat is taken and dropped.
class GlobalHotKey : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    explicit GlobalHotKey(QObject* parent = nullptr);
    ~GlobalHotKey() override;
    GlobalHotKey(const GlobalHotKey&) = delete;
    GlobalHotKey& operator=(const GlobalHotKey&) = delete;

    // Grabs Alt+D; false when the platform offers no grab or the key is taken.
    bool Register();
    bool IsRegistered() const;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void activated();

private:
    void Unregister();

#ifdef Q_OS_WIN
    bool registered_ = false;
#else
    uint8_t keycode_ = 0;
    uint32_t root_ = 0;
    // A held key repeats: as further presses, or as release and press pairs that share a
    // time stamp. Neither is a new press.
    bool held_ = false;
    uint32_t releaseTime_ = 0;
    std::vector<uint16_t> grabbedModifiers_;
#endif
};

}  // namespace k5::torvik
