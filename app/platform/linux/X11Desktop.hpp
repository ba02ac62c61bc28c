#pragma once

#include <QObject>

#include <sys/types.h>

#include <memory>
#include <optional>
#include <set>
#include <string>

class QSocketNotifier;

namespace korvel {

// The X11 desktop as its window manager describes it through EWMH: which window is active, which process
// owns a window (_NET_WM_PID), and requests to bring a window to the front. Changes of the active window
// arrive as PropertyNotify events of the root window on the connection's socket; nothing is polled.
// Main thread only.
class X11Desktop : public QObject
{
    Q_OBJECT

public:
    // Connects to $DISPLAY; nullptr when it is unset or the display cannot be reached.
    static std::shared_ptr<X11Desktop> connect();
    ~X11Desktop() override;

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

    std::unique_ptr<Connection> m_connection;
    QSocketNotifier* m_notifier = nullptr;
    bool m_readScheduled = false;
};

} // namespace korvel
