#pragma once

#include "app/platform/GlobalShortcut.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QVariantMap>

#include <optional>

namespace korvel {

// A global shortcut through the desktop portal (org.freedesktop.portal.GlobalShortcuts), as Wayland desktops
// offer it: one session per binding, holding one shortcut. Whether the portal is there is asked once, when the
// object is made; until the answer comes it counts as absent. Main thread only.
class PortalShortcuts : public QObject, public GlobalShortcut
{
    Q_OBJECT

public:
    explicit PortalShortcuts(QDBusConnection bus = QDBusConnection::sessionBus());
    ~PortalShortcuts() override;

    bool isAvailable() const override { return m_available.value_or(false); }
    QCoro::Task<> bind(std::string keys) override;
    void setActivationHandler(std::function<void()> handler) override { m_handler = std::move(handler); }

signals:
    void availabilityKnown();

private slots:
    void receiveActivation(const QDBusMessage& message);

private:
    QCoro::Task<bool> available();
    // Calls `method` of the portal with `arguments` and `options` (adding the request's name) and waits for the
    // request's Response: its results, or std::runtime_error with the reason.
    QCoro::Task<QVariantMap> request(const QString& method, QVariantList arguments, QVariantMap options);
    // Where the portal answers a request named `token`.
    QString requestPath(const QString& token) const;
    void closeSession(const QString& session);
    void closeSession();

    QDBusConnection m_bus;
    std::optional<bool> m_available;
    QString m_session; // the bound shortcut's session, empty without
    unsigned m_tokens = 0;
    unsigned m_binds = 0; // the latest bind wins: an earlier one still waiting lets its session go
    std::function<void()> m_handler;
};

} // namespace korvel
