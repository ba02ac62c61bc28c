#include "app/platform/linux/PortalShortcuts.hpp"

#include "app/platform/linux/KeyCombination.hpp"
#include "app/platform/linux/PortalRequest.hpp"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QPointer>
#include <qcoro/qcorodbus.h>
#include <qcoro/qcorosignal.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace korvel {
namespace {

const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString shortcutId = QStringLiteral("switcher");
// Some desktops ask the user in a dialog before they answer.
constexpr std::chrono::minutes responseWait(2);
const char* const unavailable = "This desktop offers no global shortcuts.";
using ShortcutList = QList<QPair<QString, QVariantMap>>; // a(sa{sv}): each shortcut's id and properties

QDBusMessage portalCall(const QString& interface, const QString& method, const QVariantList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, portalPath, interface, method);
    call.setArguments(arguments);
    return call;
}

// An object path, which portals send as a string in results and as a path in signals.
QString pathOf(const QVariant& value)
{
    return value.canConvert<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path() : value.toString();
}

// Built outside the coroutines: GCC 12 cannot keep an initializer list in a coroutine's frame.
QVariantMap sessionOptions(const QString& token)
{
    return {{QStringLiteral("session_handle_token"), token}};
}

QVariantList bindArguments(const QString& session, const std::string& trigger)
{
    const ShortcutList shortcuts {{shortcutId,
        {{QStringLiteral("description"), QStringLiteral("Show the profile switcher")},
            {QStringLiteral("preferred_trigger"), QString::fromStdString(trigger)}}}};
    return {QVariant::fromValue(QDBusObjectPath(session)), QVariant::fromValue(shortcuts), QString()};
}

} // namespace

PortalShortcuts::PortalShortcuts(QDBusConnection bus)
    : m_bus(std::move(bus))
{
    qDBusRegisterMetaType<QPair<QString, QVariantMap>>();
    qDBusRegisterMetaType<ShortcutList>();
    if (!m_bus.isConnected()) {
        m_available = false;
        return;
    }
    m_bus.connect(service, portalPath, shortcutsInterface, QStringLiteral("Activated"), this,
        SLOT(receiveActivation(QDBusMessage)));
    // The interface answers for its version only where the portal has a backend that offers it.
    auto* watcher =
        new QDBusPendingCallWatcher(m_bus.asyncCall(portalCall(QStringLiteral("org.freedesktop.DBus.Properties"),
                                        QStringLiteral("Get"), {shortcutsInterface, QStringLiteral("version")})),
            this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        m_available = !finished->isError();
        finished->deleteLater();
        emit availabilityKnown();
    });
}

PortalShortcuts::~PortalShortcuts()
{
    closeSession();
}

QCoro::Task<bool> PortalShortcuts::available()
{
    if (!m_available)
        co_await qCoro(this, &PortalShortcuts::availabilityKnown);
    co_return *m_available;
}

QCoro::Task<> PortalShortcuts::bind(std::string keys)
{
    const unsigned bind = ++m_binds;
    closeSession();
    if (keys.empty())
        co_return;
    const KeyCombination combination = KeyCombination::parse(keys);
    QPointer<PortalShortcuts> self(this);
    if (!co_await available())
        throw std::runtime_error(unavailable);
    const QVariantMap created = co_await request(
        QStringLiteral("CreateSession"), QVariantList(), sessionOptions(QStringLiteral("korvel%1").arg(++m_tokens)));
    const QString session = pathOf(created.value(QStringLiteral("session_handle")));
    if (!self)
        co_return;
    if (bind != m_binds) {
        closeSession(session);
        co_return;
    }
    m_session = session;
    QVariantMap results;
    try {
        results = co_await request(
            QStringLiteral("BindShortcuts"), bindArguments(session, combination.portalTrigger()), QVariantMap());
    } catch (...) {
        if (self && bind == m_binds)
            closeSession();
        throw;
    }
    if (!self || bind != m_binds)
        co_return;
    // The portal answers with the shortcuts it bound; ours left out is not bound.
    const auto bound = qdbus_cast<ShortcutList>(results.value(QStringLiteral("shortcuts")));
    if (std::none_of(bound.begin(), bound.end(), [](const auto& shortcut) { return shortcut.first == shortcutId; })) {
        closeSession();
        throw std::runtime_error("The desktop did not bind " + keys + ".");
    }
}

QCoro::Task<QVariantMap> PortalShortcuts::request(const QString& method, QVariantList arguments, QVariantMap options)
{
    const QString token = QStringLiteral("korvel%1").arg(++m_tokens);
    options.insert(QStringLiteral("handle_token"), token);
    arguments << options;
    PortalRequest answer(m_bus, requestPath(token), responseWait);
    QPointer<PortalShortcuts> self(this);
    const QDBusMessage reply = co_await m_bus.asyncCall(portalCall(shortcutsInterface, method, arguments));
    if (!self)
        throw std::runtime_error("The shortcut was given up.");
    if (reply.type() != QDBusMessage::ReplyMessage)
        throw std::runtime_error("The desktop portal failed: " + reply.errorMessage().toStdString());
    answer.follow(pathOf(reply.arguments().value(0))); // portals before the tokens answer on a path of their own
    if (!answer.isFinished())
        co_await qCoro(&answer, &PortalRequest::finished);
    if (!answer.response())
        throw std::runtime_error("The desktop portal did not answer.");
    const QVariantList values = answer.response()->arguments();
    const uint code = values.value(0).toUInt();
    if (code == 1)
        throw std::runtime_error("The desktop declined the shortcut.");
    if (code != 0)
        throw std::runtime_error("The desktop could not set up the shortcut.");
    co_return qdbus_cast<QVariantMap>(values.value(1));
}

QString PortalShortcuts::requestPath(const QString& token) const
{
    QString sender = m_bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

void PortalShortcuts::closeSession(const QString& session)
{
    if (!session.isEmpty())
        m_bus.send(QDBusMessage::createMethodCall(
            service, session, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close")));
}

void PortalShortcuts::closeSession()
{
    closeSession(m_session);
    m_session.clear();
}

void PortalShortcuts::receiveActivation(const QDBusMessage& message)
{
    const QVariantList arguments = message.arguments();
    if (arguments.size() >= 2 && !m_session.isEmpty() && pathOf(arguments[0]) == m_session &&
        arguments[1].toString() == shortcutId && m_handler)
        m_handler();
}

} // namespace korvel
