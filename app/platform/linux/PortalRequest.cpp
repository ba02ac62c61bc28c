#include "app/platform/linux/PortalRequest.hpp"

namespace korvel {
namespace {

const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");

} // namespace

PortalRequest::PortalRequest(QDBusConnection bus, QString path, std::chrono::milliseconds wait)
    : m_bus(std::move(bus))
    , m_path(std::move(path))
{
    listen(true); // before the call, so that an answer sent at once is not missed
    m_deadline.setSingleShot(true);
    QObject::connect(&m_deadline, &QTimer::timeout, this, &PortalRequest::finish);
    m_deadline.start(wait);
}

PortalRequest::~PortalRequest()
{
    listen(false);
}

void PortalRequest::follow(const QString& path)
{
    if (path.isEmpty() || path == m_path)
        return;
    listen(false);
    m_path = path;
    listen(true);
}

void PortalRequest::listen(bool on)
{
    const auto name = QStringLiteral("Response");
    if (on)
        m_bus.connect(service, m_path, requestInterface, name, this, SLOT(receive(QDBusMessage)));
    else
        m_bus.disconnect(service, m_path, requestInterface, name, this, SLOT(receive(QDBusMessage)));
}

void PortalRequest::receive(const QDBusMessage& message)
{
    if (m_finished || message.path() != m_path)
        return;
    m_response = message;
    finish();
}

void PortalRequest::finish()
{
    if (std::exchange(m_finished, true))
        return;
    m_deadline.stop();
    emit finished();
}

} // namespace korvel
