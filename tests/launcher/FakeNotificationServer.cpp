#include "tests/launcher/FakeNotificationServer.hpp"

#include <deque>
#include <future>
#include <gio/gio.h>
#include <stdexcept>

namespace korvel::test {

namespace {

constexpr const char* introspection = R"(<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" name="app_name" direction="in"/>
      <arg type="u" name="replaces_id" direction="in"/>
      <arg type="s" name="app_icon" direction="in"/>
      <arg type="s" name="summary" direction="in"/>
      <arg type="s" name="body" direction="in"/>
      <arg type="as" name="actions" direction="in"/>
      <arg type="a{sv}" name="hints" direction="in"/>
      <arg type="i" name="expire_timeout" direction="in"/>
      <arg type="u" name="id" direction="out"/>
    </method>
  </interface>
</node>)";

ReceivedNotification decode(GVariant* parameters)
{
    ReceivedNotification notification;
    const gchar *appName = nullptr, *appIcon = nullptr, *summary = nullptr, *body = nullptr;
    GVariantIter* actions = nullptr;
    GVariant* hints = nullptr;
    g_variant_get(parameters, "(&su&s&s&sas@a{sv}i)", &appName, &notification.replacesId, &appIcon, &summary, &body,
        &actions, &hints, &notification.expireTimeout);
    notification.appName = appName;
    notification.appIcon = appIcon;
    notification.summary = summary;
    notification.body = body;
    const gchar* action = nullptr;
    while (g_variant_iter_next(actions, "&s", &action))
        notification.actions.push_back(action);
    g_variant_iter_free(actions);
    notification.hintCount = g_variant_n_children(hints);
    g_variant_unref(hints);
    return notification;
}

} // namespace

struct FakeNotificationServer::Loop
{
    std::string address;
    GMainContext* context = g_main_context_new();
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    GDBusConnection* connection = nullptr;
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<ReceivedNotification> received;
    std::vector<GDBusMethodInvocation*> held;

    ~Loop()
    {
        g_main_loop_unref(loop);
        g_main_context_unref(context);
    }

    static void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
        GDBusMethodInvocation* invocation, gpointer self)
    {
        auto* loop = static_cast<Loop*>(self);
        std::lock_guard lock(loop->mutex);
        loop->received.push_back(decode(parameters));
        loop->held.push_back(invocation);
        loop->arrived.notify_all();
    }

    // Connects, serves the object and takes the name; throws on failure.
    void start()
    {
        GError* error = nullptr;
        connection = g_dbus_connection_new_for_address_sync(address.c_str(),
            GDBusConnectionFlags(
                G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        if (!connection)
            fail(error);
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(introspection, &error);
        static const GDBusInterfaceVTable vtable = {onCall, nullptr, nullptr, {}};
        const guint registration = g_dbus_connection_register_object(
            connection, "/org/freedesktop/Notifications", node->interfaces[0], &vtable, this, nullptr, &error);
        g_dbus_node_info_unref(node);
        if (registration == 0)
            fail(error);
        GVariant* reply = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
            "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", "org.freedesktop.Notifications", 4u),
            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
        if (!reply)
            fail(error);
        guint32 outcome = 0;
        g_variant_get(reply, "(u)", &outcome);
        g_variant_unref(reply);
        if (outcome != 1)
            throw std::runtime_error("the notification name is taken");
    }

    [[noreturn]] static void fail(GError* error)
    {
        const std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("fake notification server: " + message);
    }

    // On the loop's thread: answer everything held back, then stop.
    static gboolean finish(gpointer self)
    {
        auto* loop = static_cast<Loop*>(self);
        std::lock_guard lock(loop->mutex);
        for (auto* invocation : loop->held)
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", 1u));
        loop->held.clear();
        g_main_loop_quit(loop->loop);
        return G_SOURCE_REMOVE;
    }
};

FakeNotificationServer::FakeNotificationServer(const std::string& busAddress)
    : m_loop(std::make_unique<Loop>())
{
    m_loop->address = busAddress;
    std::promise<void> ready;
    auto started = ready.get_future();
    m_thread = std::thread([this, &ready] {
        Loop& loop = *m_loop;
        g_main_context_push_thread_default(loop.context);
        try {
            loop.start();
            ready.set_value();
            g_main_loop_run(loop.loop);
            g_dbus_connection_flush_sync(loop.connection, nullptr, nullptr);
        } catch (...) {
            ready.set_exception(std::current_exception());
        }
        if (loop.connection)
            g_object_unref(loop.connection);
        g_main_context_pop_thread_default(loop.context);
    });
    try {
        started.get();
    } catch (...) {
        m_thread.join();
        throw;
    }
}

FakeNotificationServer::~FakeNotificationServer()
{
    // A source of the loop's own context: dispatched on its thread even if the loop has not started yet.
    GSource* source = g_idle_source_new();
    g_source_set_callback(source, &Loop::finish, m_loop.get(), nullptr);
    g_source_attach(source, m_loop->context);
    g_source_unref(source);
    m_thread.join();
}

std::optional<ReceivedNotification> FakeNotificationServer::next(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_loop->mutex);
    if (!m_loop->arrived.wait_for(lock, timeout, [&] { return !m_loop->received.empty(); }))
        return std::nullopt;
    auto notification = std::move(m_loop->received.front());
    m_loop->received.pop_front();
    return notification;
}

} // namespace korvel::test
