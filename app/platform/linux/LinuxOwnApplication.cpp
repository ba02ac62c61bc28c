#include "app/platform/linux/LinuxOwnApplication.hpp"

#include <QGuiApplication>

namespace korvel {

LinuxOwnApplication::LinuxOwnApplication(QObject* parent)
    : QObject(parent)
{
    if (auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QObject::connect(
            application, &QGuiApplication::applicationStateChanged, this, &LinuxOwnApplication::stateChanged);
}

void LinuxOwnApplication::observeDidBecomeActive(std::function<void()> handler)
{
    m_handlers.push_back(std::move(handler));
}

void LinuxOwnApplication::stateChanged(Qt::ApplicationState state)
{
    if (state != Qt::ApplicationActive)
        return;
    const auto handlers = m_handlers; // a handler may observe more
    for (const auto& handler : handlers)
        handler();
}

} // namespace korvel
