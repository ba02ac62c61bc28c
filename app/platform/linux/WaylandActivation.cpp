#include "app/platform/linux/WaylandActivation.hpp"

#include "xdg-activation-v1-client-protocol.h"

#include <QAbstractEventDispatcher>
#include <QGuiApplication>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace korvel {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t pressed = 1; // wl_pointer.button_state and wl_keyboard.key_state alike
constexpr uint32_t seatVersion = 5; // release requests; later versions add only events Korvel does not read

} // namespace

struct WaylandActivation::Connection
{
    struct Press
    {
        uint32_t serial = 0;
        wl_surface* surface = nullptr;
        Clock::time_point when;
    };

    wl_display* display = nullptr;
    wl_event_queue* queue = nullptr;
    wl_display* wrapper = nullptr; // the display's proxy on `queue`
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    wl_pointer* pointer = nullptr;
    wl_keyboard* keyboard = nullptr;
    xdg_activation_v1* activation = nullptr;
    wl_surface* pointerFocus = nullptr;
    wl_surface* keyboardFocus = nullptr;
    std::optional<Press> press; // the latest, until a token is asked for with it

    ~Connection()
    {
        if (pointer)
            wl_pointer_release(pointer);
        if (keyboard)
            wl_keyboard_release(keyboard);
        if (seat)
            wl_seat_release(seat);
        if (activation)
            xdg_activation_v1_destroy(activation);
        if (registry)
            wl_registry_destroy(registry);
        if (wrapper)
            wl_proxy_wrapper_destroy(wrapper);
        if (queue)
            wl_event_queue_destroy(queue);
    }

    void pressed(uint32_t serial, wl_surface* surface)
    {
        if (surface)
            press = Press {serial, surface, Clock::now()};
    }

    void capabilities(uint32_t capabilities);

    // Dispatches this queue's events until `answered` holds or `deadline` passes, reading the display as libwayland
    // lets several threads do (Qt reads it on a thread of its own).
    template<typename Answered>
    void dispatchUntil(Answered answered, Clock::time_point deadline)
    {
        while (!answered()) {
            if (wl_display_prepare_read_queue(display, queue) != 0) {
                if (wl_display_dispatch_queue_pending(display, queue) < 0)
                    return;
                continue;
            }
            wl_display_flush(display);
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd descriptor {wl_display_get_fd(display), POLLIN, 0};
            const int ready = left > 0 ? ::poll(&descriptor, 1, static_cast<int>(left)) : 0;
            if (ready <= 0) {
                wl_display_cancel_read(display);
                if (ready == 0 || errno != EINTR)
                    return;
                continue;
            }
            if (wl_display_read_events(display) < 0 || wl_display_dispatch_queue_pending(display, queue) < 0)
                return;
        }
    }
};

namespace {

template<typename... Arguments>
void ignore(void*, Arguments...)
{ }

WaylandActivation::Connection& of(void* data)
{
    return *static_cast<WaylandActivation::Connection*>(data);
}

const wl_pointer_listener pointerListener {
    .enter = [](void* data, wl_pointer*, uint32_t, wl_surface* surface, wl_fixed_t,
                 wl_fixed_t) { of(data).pointerFocus = surface; },
    .leave = [](void* data, wl_pointer*, uint32_t, wl_surface*) { of(data).pointerFocus = nullptr; },
    .motion = ignore<wl_pointer*, uint32_t, wl_fixed_t, wl_fixed_t>,
    .button =
        [](void* data, wl_pointer*, uint32_t serial, uint32_t, uint32_t, uint32_t state) {
            auto* connection = &of(data);
            if (state == pressed)
                connection->pressed(serial, connection->pointerFocus);
        },
    .axis = ignore<wl_pointer*, uint32_t, uint32_t, wl_fixed_t>,
    .frame = ignore<wl_pointer*>,
    .axis_source = ignore<wl_pointer*, uint32_t>,
    .axis_stop = ignore<wl_pointer*, uint32_t, uint32_t>,
    .axis_discrete = ignore<wl_pointer*, uint32_t, int32_t>,
    .axis_value120 = ignore<wl_pointer*, uint32_t, int32_t>,
};

const wl_keyboard_listener keyboardListener {
    .keymap = [](void*, wl_keyboard*, uint32_t, int32_t fd, uint32_t) { ::close(fd); },
    .enter = [](void* data, wl_keyboard*, uint32_t, wl_surface* surface,
                 wl_array*) { of(data).keyboardFocus = surface; },
    .leave = [](void* data, wl_keyboard*, uint32_t, wl_surface*) { of(data).keyboardFocus = nullptr; },
    .key =
        [](void* data, wl_keyboard*, uint32_t serial, uint32_t, uint32_t, uint32_t state) {
            auto* connection = &of(data);
            if (state == pressed)
                connection->pressed(serial, connection->keyboardFocus);
        },
    .modifiers = ignore<wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t>,
    .repeat_info = ignore<wl_keyboard*, int32_t, int32_t>,
};

const wl_seat_listener seatListener {
    .capabilities = [](void* data, wl_seat*, uint32_t capabilities) { of(data).capabilities(capabilities); },
    .name = ignore<wl_seat*, const char*>,
};

const wl_registry_listener registryListener {
    .global =
        [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
            auto* connection = &of(data);
            // The first seat is the one of the user's input; Qt follows the same one.
            if (std::strcmp(interface, wl_seat_interface.name) == 0 && !connection->seat && version >= seatVersion) {
                connection->seat =
                    static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, seatVersion));
                wl_seat_add_listener(connection->seat, &seatListener, connection);
            } else if (std::strcmp(interface, xdg_activation_v1_interface.name) == 0 && !connection->activation) {
                connection->activation =
                    static_cast<xdg_activation_v1*>(wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
            }
        },
    .global_remove = ignore<wl_registry*, uint32_t>,
};

const xdg_activation_token_v1_listener tokenListener {
    .done = [](void* data, xdg_activation_token_v1*,
                const char* token) { *static_cast<std::optional<std::string>*>(data) = std::string(token); },
};

// Whether `surface` is still the surface of one of Korvel's windows: a press's surface may have gone since.
bool isOwnSurface(wl_surface* surface)
{
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    const auto windows = QGuiApplication::allWindows();
    return surface && std::any_of(windows.begin(), windows.end(), [&](QWindow* window) {
        return window->handle() && native->nativeResourceForWindow("surface", window) == surface;
    });
}

} // namespace

void WaylandActivation::Connection::capabilities(uint32_t capabilities)
{
    const bool hasPointer = capabilities & WL_SEAT_CAPABILITY_POINTER;
    if (hasPointer && !pointer) {
        pointer = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(pointer, &pointerListener, this);
    } else if (!hasPointer && pointer) {
        wl_pointer_release(pointer);
        pointer = nullptr;
        pointerFocus = nullptr;
    }
    const bool hasKeyboard = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
    if (hasKeyboard && !keyboard) {
        keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(keyboard, &keyboardListener, this);
    } else if (!hasKeyboard && keyboard) {
        wl_keyboard_release(keyboard);
        keyboard = nullptr;
        keyboardFocus = nullptr;
    }
}

std::unique_ptr<WaylandActivation> WaylandActivation::connect()
{
    // A command's or a test's plain QCoreApplication has no windows (nor may it be taken for a QGuiApplication).
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ||
        !QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return nullptr;
    auto* display = static_cast<wl_display*>(
        QGuiApplication::platformNativeInterface()->nativeResourceForIntegration("wl_display"));
    if (!display)
        return nullptr;
    auto connection = std::make_unique<Connection>();
    connection->display = display;
    connection->queue = wl_display_create_queue(display);
    connection->wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(connection->wrapper), connection->queue);
    connection->registry = wl_display_get_registry(connection->wrapper);
    wl_registry_add_listener(connection->registry, &registryListener, connection.get());
    // The globals, then the seat's capabilities.
    for (int round = 0; round < 2; ++round)
        if (wl_display_roundtrip_queue(display, connection->queue) < 0)
            return nullptr;
    if (!connection->seat || !connection->activation)
        return nullptr;
    return std::unique_ptr<WaylandActivation>(new WaylandActivation(std::move(connection)));
}

WaylandActivation::WaylandActivation(std::unique_ptr<Connection> connection)
    : m_connection(std::move(connection))
{
    // Input devices come and go, and a press is timed when it arrives: dispatch whenever the event loop wakes.
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, this,
        &WaylandActivation::dispatchPending);
}

WaylandActivation::~WaylandActivation() = default;

void WaylandActivation::dispatchPending()
{
    wl_display_dispatch_queue_pending(m_connection->display, m_connection->queue);
}

std::optional<std::string> WaylandActivation::tokenFor(const std::string& appId)
{
    dispatchPending();
    Connection& connection = *m_connection;
    const auto press = std::exchange(connection.press, std::nullopt);
    if (!press || Clock::now() - press->when > pressLifetime || !isOwnSurface(press->surface))
        return std::nullopt;
    std::optional<std::string> token;
    xdg_activation_token_v1* request = xdg_activation_v1_get_activation_token(connection.activation);
    xdg_activation_token_v1_add_listener(request, &tokenListener, &token);
    xdg_activation_token_v1_set_serial(request, press->serial, connection.seat);
    xdg_activation_token_v1_set_surface(request, press->surface);
    xdg_activation_token_v1_set_app_id(request, appId.c_str());
    xdg_activation_token_v1_commit(request);
    connection.dispatchUntil([&token] { return token.has_value(); }, Clock::now() + answerWait);
    // A late answer finds the request gone and is dropped.
    xdg_activation_token_v1_destroy(request);
    return token;
}

} // namespace korvel
