#pragma once

#include "app/platform/FileViewer.hpp"

#include <QDBusConnection>
#include <QObject>

namespace korvel {

// Reveals items through the file manager's D-Bus interface (org.freedesktop.FileManager1.ShowItems); when no
// file manager answers, opens the item's folder with xdg-open. Main thread only.
class LinuxFileViewer : public QObject, public FileViewer
{
    Q_OBJECT

public:
    // Asks the file manager on `bus`, the session bus by default.
    explicit LinuxFileViewer(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    void reveal(const std::filesystem::path& item) override;

    // The fallback on its own: xdg-open on the folder that holds `item`.
    static void openFolderOf(const std::filesystem::path& item);

private:
    QDBusConnection m_bus;
};

} // namespace korvel
