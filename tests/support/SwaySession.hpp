#pragma once

#include "tests/support/BackgroundProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvel::test {

// A window as sway's tree shows it.
struct SwayWindow
{
    long long id = 0;
    pid_t pid = 0;
    std::string appId; // native Wayland windows
    std::string x11Class; // XWayland windows: WM_CLASS's class part
    std::string title;
    bool focused = false;
    bool xwayland = false;
};

// A private headless sway (wlroots' headless backend, software rendering, no input devices) with XWayland, for
// tests of Wayland sessions. Sway refuses to run as root: under root it runs as nobody, and the test's user is let
// into its XWayland. With `tray`, a private session bus is started too and swaybar shows a StatusNotifier tray
// on it. Everything it starts is ended by PID when the object goes.
class SwaySession
{
public:
    struct Options
    {
        bool tray = false;
    };

    // Why a session cannot be started here (sway or XWayland is not installed), or nothing.
    static std::optional<std::string> unavailable();

    // Throws when sway does not come up within 20 s.
    explicit SwaySession(Options options);
    SwaySession()
        : SwaySession(Options {})
    { }
    ~SwaySession();
    SwaySession(const SwaySession&) = delete;
    SwaySession& operator=(const SwaySession&) = delete;

    // What a client of this session needs: WAYLAND_DISPLAY (a socket path), DISPLAY (XWayland), SWAYSOCK,
    // XDG_SESSION_TYPE and, with a tray, DBUS_SESSION_BUS_ADDRESS. For ProcessOptions::environment.
    std::map<std::string, std::optional<std::string>> environment() const;
    const std::string& x11Display() const { return m_x11Display; }
    const std::string& sessionBus() const { return m_sessionBus; }

    // swaymsg with these arguments (e.g. {"-t", "get_tree"}): its standard output; throws when it fails.
    std::string message(const std::vector<std::string>& arguments) const;
    // Every window of the tree, tiled or floating, in tree order.
    std::vector<SwayWindow> windows() const;
    // Writes a PNG of the whole output (needs grim); false when it could not.
    bool screenshot(const std::filesystem::path& file) const;

private:
    std::vector<pid_t> descendantsOfSway() const;

    TempDir m_folder;
    std::filesystem::path m_runtime; // sway's XDG_RUNTIME_DIR
    std::unique_ptr<BackgroundProcess> m_bus;
    std::unique_ptr<BackgroundProcess> m_sway;
    std::string m_waylandDisplay;
    std::string m_x11Display;
    std::string m_ipcSocket;
    std::string m_sessionBus;
};

} // namespace korvel::test
