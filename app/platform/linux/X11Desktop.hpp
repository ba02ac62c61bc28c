#pragma once

#include <QObject>

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

class QSocketNotifier;

namespace korvel {

// The X11 desktop as its window manager describes it through EWMH: which window is active, which process
// owns a window (_NET_WM_PID), and requests to bring a window to the front. Changes of the active window
// arrive as PropertyNotify events of the root window on the connection's socket; nothing is polled. New
// top-level windows are watched from their creation, so that a window's class can be claimed before any
// window manager or dock has seen it. Main thread only.
class X11Desktop : public QObject
{
    Q_OBJECT

public:
    // Connects to $DISPLAY; nullptr when it is unset or the display cannot be reached.
    static std::shared_ptr<X11Desktop> connect();
    ~X11Desktop() override;

    struct ActiveWindow
    {
        std::uint32_t window = 0;
        std::optional<pid_t> process; // nothing when the window names none
    };
    // The active window; nothing when no window is active (in a Wayland session: a native window has the focus)
    // or the connection is lost.
    std::optional<ActiveWindow> activeWindow();
    // The process that owns the active window; nothing when no window is active, the window names no
    // process, or the connection is lost.
    std::optional<pid_t> activeWindowProcess();
    // Asks the window manager to activate the topmost window of any of `processes` (un-minimising it);
    // false when none of them has a window.
    bool activate(const std::set<pid_t>& processes);
    // Gives the managed windows of `processes` the WM_CLASS `windowClass` (as instance and class name), so that task
    // bars and docks match them to the desktop entry whose StartupWMClass it is rather than to the program that
    // made them. Returns how many windows it changed.
    int claimWindows(const std::set<pid_t>& processes, const std::string& windowClass);
    // The class a new window of process `pid` must have, or nothing to leave it as it is.
    using Claim = std::function<std::optional<std::string>(pid_t pid)>;
    // Asked for every top-level window as soon as it exists and names its process, and whenever its program sets
    // its class again, so that the class a window manager or dock reads when the window is mapped is the claimed
    // one.
    void setClaim(Claim claim) { m_claim = std::move(claim); }
    // Asks the window manager to show the minimised windows of `processes` again; false when there were none.
    bool unhide(const std::set<pid_t>& processes);

signals:
    // The active window changed (or may have: the window manager set the property again).
    void activeWindowChanged();
    // The window manager's list of managed windows changed.
    void windowsChanged();

private:
    struct Connection;
    explicit X11Desktop(std::unique_ptr<Connection> connection);
    void readEvents();
    void scheduleReadEvents();
    void watch(std::uint32_t window);
    void claim(std::uint32_t window);

    std::unique_ptr<Connection> m_connection;
    QSocketNotifier* m_notifier = nullptr;
    bool m_readScheduled = false;
    Claim m_claim;
};

} // namespace korvel
