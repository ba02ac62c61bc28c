#include "tests/app/platform/linux/XServer.hpp"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace korvel::test {
namespace {

constexpr const char* xvfb = "/usr/bin/Xvfb";
constexpr const char* openbox = "/usr/bin/openbox";

} // namespace

bool XServer::available()
{
    return ::access(xvfb, X_OK) == 0 && ::access(openbox, X_OK) == 0;
}

XServer::XServer()
{
    // -displayfd: Xvfb picks a free display number itself and writes it to our pipe once it accepts clients.
    m_server = std::make_unique<BackgroundProcess>(xvfb,
        BackgroundProcess::Options {
            .arguments = {"Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"},
            .environment = {{"HOME", m_home.path().string()}}});
    const auto number = m_server->waitForLine([](const std::string& line) { return !line.empty(); });
    if (!number)
        throw std::runtime_error("Xvfb did not start");
    m_display = ":" + *number;

    int screen = 0;
    m_connection = xcb_connect(m_display.c_str(), &screen);
    if (xcb_connection_has_error(m_connection))
        throw std::runtime_error("cannot connect to Xvfb on " + m_display);
    m_ewmhReady = xcb_ewmh_init_atoms_replies(&m_ewmh, xcb_ewmh_init_atoms(m_connection, &m_ewmh), nullptr);
    if (!m_ewmhReady)
        throw std::runtime_error("cannot read the EWMH atoms");

    const std::string home = m_home.path().string();
    m_windowManager = std::make_unique<BackgroundProcess>(openbox,
        BackgroundProcess::Options {.arguments = {"openbox"},
            .environment = {{"DISPLAY", m_display}, {"HOME", home}, {"XDG_CONFIG_HOME", home + "/config"},
                {"XDG_DATA_HOME", home + "/data"}, {"XDG_CACHE_HOME", home + "/cache"},
                // its own configuration: without rc.xml openbox manages no windows
                {"XDG_CONFIG_DIRS", "/etc/xdg"}, {"XDG_DATA_DIRS", "/usr/local/share:/usr/share"},
                {"XDG_RUNTIME_DIR", std::nullopt}, {"DBUS_SESSION_BUS_ADDRESS", std::nullopt}}});
    // The window manager has taken over once it names its check window on the root.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        xcb_window_t check = XCB_NONE;
        if (xcb_ewmh_get_supporting_wm_check_reply(
                &m_ewmh, xcb_ewmh_get_supporting_wm_check(&m_ewmh, m_ewmh.screens[0]->root), &check, nullptr) &&
            check != XCB_NONE)
            break;
        if (std::chrono::steady_clock::now() > deadline || m_windowManager->wait(std::chrono::milliseconds(0)))
            throw std::runtime_error("openbox did not take over the display");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    waitUntilWindowsAreManaged(deadline);
}

void XServer::waitUntilWindowsAreManaged(std::chrono::steady_clock::time_point deadline)
{
    // openbox names its check window before it handles map requests; a window mapped in between may stay
    // unmanaged. Map a probe window until it shows up in the client list.
    const xcb_screen_t* screen = m_ewmh.screens[0];
    const xcb_window_t probe = xcb_generate_id(m_connection);
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, probe, screen->root, 0, 0, 10, 10, 0,
        XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    for (bool managed = false; !managed;) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("openbox does not manage windows");
        xcb_unmap_window(m_connection, probe);
        xcb_map_window(m_connection, probe);
        xcb_flush(m_connection);
        for (int attempt = 0; attempt < 50 && !managed; ++attempt) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            xcb_ewmh_get_windows_reply_t list {};
            if (!xcb_ewmh_get_windows_reply(&m_ewmh, xcb_ewmh_get_client_list(&m_ewmh, 0), &list, nullptr))
                continue;
            for (uint32_t i = 0; i < list.windows_len; ++i)
                managed = managed || list.windows[i] == probe;
            xcb_ewmh_get_windows_reply_wipe(&list);
        }
    }
    xcb_destroy_window(m_connection, probe);
    xcb_flush(m_connection);
}

XServer::~XServer()
{
    if (m_ewmhReady)
        xcb_ewmh_connection_wipe(&m_ewmh);
    if (m_connection)
        xcb_disconnect(m_connection);
    m_windowManager.reset();
    m_server.reset();
}

std::vector<xcb_window_t> XServer::windowsOf(const std::set<pid_t>& pids)
{
    std::vector<xcb_window_t> found;
    xcb_ewmh_get_windows_reply_t list {};
    if (!xcb_ewmh_get_windows_reply(&m_ewmh, xcb_ewmh_get_client_list(&m_ewmh, 0), &list, nullptr))
        return found;
    for (uint32_t i = 0; i < list.windows_len; ++i) {
        uint32_t pid = 0;
        if (xcb_ewmh_get_wm_pid_reply(&m_ewmh, xcb_ewmh_get_wm_pid(&m_ewmh, list.windows[i]), &pid, nullptr) &&
            pids.contains(static_cast<pid_t>(pid)))
            found.push_back(list.windows[i]);
    }
    xcb_ewmh_get_windows_reply_wipe(&list);
    return found;
}

std::optional<xcb_window_t> XServer::activeWindow()
{
    xcb_window_t window = XCB_NONE;
    if (!xcb_ewmh_get_active_window_reply(&m_ewmh, xcb_ewmh_get_active_window(&m_ewmh, 0), &window, nullptr) ||
        window == XCB_NONE)
        return std::nullopt;
    return window;
}

bool XServer::isHidden(xcb_window_t window)
{
    xcb_ewmh_get_atoms_reply_t state {};
    if (!xcb_ewmh_get_wm_state_reply(&m_ewmh, xcb_ewmh_get_wm_state(&m_ewmh, window), &state, nullptr))
        return false;
    bool hidden = false;
    for (uint32_t i = 0; i < state.atoms_len; ++i)
        hidden = hidden || state.atoms[i] == m_ewmh._NET_WM_STATE_HIDDEN;
    xcb_ewmh_get_atoms_reply_wipe(&state);
    return hidden;
}

void XServer::minimise(xcb_window_t window)
{
    const char name[] = "WM_CHANGE_STATE";
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(m_connection, xcb_intern_atom(m_connection, 0, sizeof name - 1, name), nullptr);
    xcb_client_message_event_t message {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    message.data.data32[0] = 3; // IconicState
    std::free(reply);
    xcb_send_event(m_connection, 0, m_ewmh.screens[0]->root,
        XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char*>(&message));
    xcb_flush(m_connection);
}

} // namespace korvel::test
