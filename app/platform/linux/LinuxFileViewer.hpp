#pragma once

#include "app/platform/FileViewer.hpp"

#include <QDBusConnection>
#include <QObject>

namespace korvel {

// Reveals items through the file manager's D-Bus interface (org.freedesktop.FileManager1.ShowItems); without
// one, opens the item's folder with xdg-open, when the desktop has an application for folders at all. Main thread
// only.
class LinuxFileViewer : public QObject, public FileViewer
{
    Q_OBJECT

public:
    // Asks the file manager on `bus`, the session bus by default.
    explicit LinuxFileViewer(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    void reveal(const std::filesystem::path& item) override;

    // The fallback on its own: xdg-open on the folder that holds `item`. Throws std::runtime_error when no
    // application opens folders or xdg-open cannot start.
    static void openFolderOf(const std::filesystem::path& item);

private:
    QDBusConnection m_bus;
};

} // namespace korvel
