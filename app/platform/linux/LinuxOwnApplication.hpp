#pragma once

#include "app/platform/OwnApplication.hpp"

#include <QObject>

#include <vector>

namespace korvel {

// Korvel becomes the active application when one of its windows gets the focus: Qt's application state turns
// Qt::ApplicationActive. Without a QGuiApplication (a headless run) it never does. Main thread only.
class LinuxOwnApplication : public QObject, public OwnApplication
{
    Q_OBJECT

public:
    explicit LinuxOwnApplication(QObject* parent = nullptr);

    void observeDidBecomeActive(std::function<void()> handler) override;

private:
    void stateChanged(Qt::ApplicationState state);

    std::vector<std::function<void()>> m_handlers;
};

} // namespace korvel
