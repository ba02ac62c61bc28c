#pragma once

#include "app/platform/GlobalShortcut.hpp"

#include <QObject>

#include <cstdint>
#include <memory>
#include <optional>

class QSocketNotifier;
struct xcb_connection_t;

namespace korvel {

// A global shortcut as an X11 key grab on the root window, on a connection of its own so that its key events
// meet nothing else. The combination is grabbed also with Caps Lock and Num Lock on, which X counts as
// modifiers. Main thread only.
class X11KeyGrab : public QObject, public GlobalShortcut
{
    Q_OBJECT

public:
    // Connects to $DISPLAY; nullptr when it cannot be reached.
    static std::unique_ptr<X11KeyGrab> connect();
    ~X11KeyGrab() override;

    bool isAvailable() const override;
    QCoro::Task<> bind(std::string keys) override;
    void setActivationHandler(std::function<void()> handler) override { m_handler = std::move(handler); }

private:
    struct Grab
    {
        std::uint8_t keycode = 0;
        std::uint16_t modifiers = 0;
    };

    X11KeyGrab(xcb_connection_t* connection, std::uint32_t root);
    // Grabs every lock variant: 0, or the X error of the first that failed (BadAccess: another client holds it);
    // then none stays grabbed.
    std::uint8_t grab(const Grab& grab);
    void ungrab();
    void readEvents();

    xcb_connection_t* m_connection;
    std::uint32_t m_root;
    QSocketNotifier* m_notifier = nullptr;
    std::optional<Grab> m_grab;
    std::uint32_t m_releaseTime = 0; // of the bound key's last release, to tell auto-repeat from a new press
    std::function<void()> m_handler;
};

} // namespace korvel
