#pragma once

#include "tests/support/BackgroundProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace korvel::test {

// A headless X server (Xvfb on a display number it picks itself) with a real EWMH window manager (openbox)
// for the length of a test suite, plus a client connection through which tests look at what the window
// manager did.
class XServer
{
public:
    // True when Xvfb and openbox are installed.
    static bool available();

    // Starts both and waits until the window manager has taken over; throws std::runtime_error otherwise.
    XServer();
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    // ":N".
    const std::string& display() const { return m_display; }

    // The managed windows (_NET_CLIENT_LIST) whose _NET_WM_PID is in `pids`.
    std::vector<xcb_window_t> windowsOf(const std::set<pid_t>& pids);
    std::optional<xcb_window_t> activeWindow();
    bool isHidden(xcb_window_t window);
    // Asks the window manager to minimise `window` (ICCCM WM_CHANGE_STATE to IconicState).
    void minimise(xcb_window_t window);

private:
    void waitUntilWindowsAreManaged(std::chrono::steady_clock::time_point deadline);

    TempDir m_home; // the window manager's HOME and XDG folders
    std::unique_ptr<BackgroundProcess> m_server;
    std::unique_ptr<BackgroundProcess> m_windowManager;
    std::string m_display;
    xcb_connection_t* m_connection = nullptr;
    xcb_ewmh_connection_t m_ewmh {};
    bool m_ewmhReady = false;
};

} // namespace korvel::test
