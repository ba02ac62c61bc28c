#include "app/platform/linux/X11Desktop.hpp"

#include <QSocketNotifier>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <cstdlib>
#include <vector>

namespace korvel {

struct X11Desktop::Connection
{
    xcb_connection_t* connection = nullptr;
    xcb_ewmh_connection_t ewmh {};
    bool ewmhReady = false;
    int screen = 0;
    xcb_window_t root = 0;

    ~Connection()
    {
        if (ewmhReady)
            xcb_ewmh_connection_wipe(&ewmh);
        if (connection)
            xcb_disconnect(connection);
    }

    bool broken() const { return xcb_connection_has_error(connection) != 0; }

    std::optional<xcb_window_t> activeWindow()
    {
        xcb_window_t window = XCB_NONE;
        if (!xcb_ewmh_get_active_window_reply(&ewmh, xcb_ewmh_get_active_window(&ewmh, screen), &window, nullptr) ||
            window == XCB_NONE)
            return std::nullopt;
        return window;
    }

    std::optional<pid_t> processOf(xcb_window_t window)
    {
        uint32_t pid = 0;
        if (!xcb_ewmh_get_wm_pid_reply(&ewmh, xcb_ewmh_get_wm_pid(&ewmh, window), &pid, nullptr) || pid == 0)
            return std::nullopt;
        return static_cast<pid_t>(pid);
    }

    // The managed windows of `processes`, bottom to top. One round trip for the list, then the pid requests
    // are sent together and their replies collected.
    std::vector<xcb_window_t> windowsOf(const std::set<pid_t>& processes)
    {
        xcb_ewmh_get_windows_reply_t list {};
        if (!xcb_ewmh_get_windows_reply(&ewmh, xcb_ewmh_get_client_list_stacking(&ewmh, screen), &list, nullptr) &&
            !xcb_ewmh_get_windows_reply(&ewmh, xcb_ewmh_get_client_list(&ewmh, screen), &list, nullptr))
            return {};
        std::vector<xcb_get_property_cookie_t> cookies;
        cookies.reserve(list.windows_len);
        for (uint32_t i = 0; i < list.windows_len; ++i)
            cookies.push_back(xcb_ewmh_get_wm_pid(&ewmh, list.windows[i]));
        std::vector<xcb_window_t> windows;
        for (uint32_t i = 0; i < list.windows_len; ++i) {
            uint32_t pid = 0;
            if (xcb_ewmh_get_wm_pid_reply(&ewmh, cookies[i], &pid, nullptr) &&
                processes.contains(static_cast<pid_t>(pid)))
                windows.push_back(list.windows[i]);
        }
        xcb_ewmh_get_windows_reply_wipe(&list);
        return windows;
    }

    xcb_get_property_cookie_t requestClass(xcb_window_t window)
    {
        return xcb_get_property(connection, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256);
    }

    // WM_CLASS as stored: the instance name and the class name, each ending in a NUL.
    std::string windowClass(xcb_get_property_cookie_t cookie)
    {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
        if (!reply)
            return {};
        std::string value(static_cast<const char*>(xcb_get_property_value(reply)),
            static_cast<size_t>(xcb_get_property_value_length(reply)));
        std::free(reply);
        return value;
    }

    // Gives the window `name` as instance and class name unless it has them (`current`, as windowClass reads
    // it); whether it changed anything. Setting the same value again would only come back as another change.
    bool claim(xcb_window_t window, const std::string& name, const std::string& current)
    {
        const std::string value = name + '\0' + name + '\0';
        if (current == value)
            return false;
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
            static_cast<uint32_t>(value.size()), value.data());
        return true;
    }

    bool isHidden(xcb_window_t window)
    {
        xcb_ewmh_get_atoms_reply_t state {};
        if (!xcb_ewmh_get_wm_state_reply(&ewmh, xcb_ewmh_get_wm_state(&ewmh, window), &state, nullptr))
            return false;
        bool hidden = false;
        for (uint32_t i = 0; i < state.atoms_len; ++i)
            hidden = hidden || state.atoms[i] == ewmh._NET_WM_STATE_HIDDEN;
        xcb_ewmh_get_atoms_reply_wipe(&state);
        return hidden;
    }

    void requestActivation(xcb_window_t window)
    {
        // Source "pager": a request on the user's behalf, which window managers honour without the focus
        // stealing prevention they apply to applications.
        const auto current = activeWindow();
        xcb_ewmh_request_change_active_window(
            &ewmh, screen, window, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, XCB_CURRENT_TIME, current.value_or(XCB_NONE));
        xcb_flush(connection);
    }
};

std::shared_ptr<X11Desktop> X11Desktop::connect()
{
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return nullptr;
    auto connection = std::make_unique<Connection>();
    connection->connection = xcb_connect(nullptr, &connection->screen);
    if (connection->broken())
        return nullptr;
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection->connection, &connection->ewmh);
    if (!xcb_ewmh_init_atoms_replies(&connection->ewmh, cookies, nullptr))
        return nullptr;
    connection->ewmhReady = true;
    if (connection->screen < 0 || connection->screen >= connection->ewmh.nb_screens)
        return nullptr;
    connection->root = connection->ewmh.screens[connection->screen]->root;
    // Root properties (active window, client list), and the creation of every top-level window.
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection->connection, connection->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection->connection);
    return std::shared_ptr<X11Desktop>(new X11Desktop(std::move(connection)));
}

X11Desktop::X11Desktop(std::unique_ptr<Connection> connection)
    : m_connection(std::move(connection))
{
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(m_connection->connection), QSocketNotifier::Read, this);
    QObject::connect(m_notifier, &QSocketNotifier::activated, this, &X11Desktop::readEvents);
}

X11Desktop::~X11Desktop() = default;

void X11Desktop::readEvents()
{
    m_readScheduled = false;
    bool changed = false;
    bool windowsChanged = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection->connection)) {
        const auto type = event->response_type & 0x7f;
        if (type == XCB_PROPERTY_NOTIFY) {
            const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            const bool root = notify->window == m_connection->root;
            changed = changed || (root && notify->atom == m_connection->ewmh._NET_ACTIVE_WINDOW);
            windowsChanged = windowsChanged || (root && notify->atom == m_connection->ewmh._NET_CLIENT_LIST);
            if (!root && (notify->atom == XCB_ATOM_WM_CLASS || notify->atom == m_connection->ewmh._NET_WM_PID))
                claim(notify->window);
        } else if (type == XCB_CREATE_NOTIFY) {
            const auto* created = reinterpret_cast<const xcb_create_notify_event_t*>(event);
            if (created->parent == m_connection->root)
                watch(created->window);
        }
        std::free(event);
    }
    if (m_connection->broken())
        m_notifier->setEnabled(false); // the display went away: no more events, queries answer nothing
    if (changed)
        emit activeWindowChanged();
    if (windowsChanged)
        emit this->windowsChanged();
}

// Its property changes from now on, then what it has already: the program may have set its class and process
// before the selection took effect.
void X11Desktop::watch(std::uint32_t window)
{
    if (!m_claim)
        return;
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(m_connection->connection, window, XCB_CW_EVENT_MASK, &mask);
    claim(window);
}

void X11Desktop::claim(std::uint32_t window)
{
    if (!m_claim || m_connection->broken())
        return;
    // One round trip: the window is about to be mapped, and the class must be ours before that.
    const auto classCookie = m_connection->requestClass(window);
    const auto process = m_connection->processOf(window);
    const auto windowClass = process ? m_claim(*process) : std::nullopt;
    const std::string current = m_connection->windowClass(classCookie);
    if (windowClass && m_connection->claim(window, *windowClass, current))
        xcb_flush(m_connection->connection);
}

void X11Desktop::scheduleReadEvents()
{
    // Events that arrived while we waited for a reply sit in xcb's queue, where the socket notifier cannot
    // see them.
    if (m_readScheduled)
        return;
    m_readScheduled = true;
    QTimer::singleShot(0, this, &X11Desktop::readEvents);
}

std::optional<X11Desktop::ActiveWindow> X11Desktop::activeWindow()
{
    if (m_connection->broken())
        return std::nullopt;
    const auto window = m_connection->activeWindow();
    std::optional<ActiveWindow> active;
    if (window)
        active = ActiveWindow {*window, m_connection->processOf(*window)};
    scheduleReadEvents();
    return active;
}

std::optional<pid_t> X11Desktop::activeWindowProcess()
{
    const auto active = activeWindow();
    return active ? active->process : std::nullopt;
}

bool X11Desktop::activate(const std::set<pid_t>& processes)
{
    if (m_connection->broken())
        return false;
    const std::vector<xcb_window_t> windows = m_connection->windowsOf(processes);
    if (!windows.empty())
        m_connection->requestActivation(windows.back());
    scheduleReadEvents();
    return !windows.empty();
}

int X11Desktop::claimWindows(const std::set<pid_t>& processes, const std::string& windowClass)
{
    if (m_connection->broken())
        return 0;
    int changed = 0;
    for (const xcb_window_t window : m_connection->windowsOf(processes))
        changed +=
            m_connection->claim(window, windowClass, m_connection->windowClass(m_connection->requestClass(window))) ? 1
                                                                                                                    : 0;
    if (changed)
        xcb_flush(m_connection->connection);
    scheduleReadEvents();
    return changed;
}

bool X11Desktop::unhide(const std::set<pid_t>& processes)
{
    if (m_connection->broken())
        return false;
    bool any = false;
    for (const xcb_window_t window : m_connection->windowsOf(processes)) {
        if (m_connection->isHidden(window)) {
            m_connection->requestActivation(window);
            any = true;
        }
    }
    scheduleReadEvents();
    return any;
}

} // namespace korvel
