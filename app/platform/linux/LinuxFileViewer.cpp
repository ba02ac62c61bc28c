#include "app/platform/linux/LinuxFileViewer.hpp"

#include "app/platform/linux/DetachedProcess.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QUrl>

namespace korvel {

void LinuxFileViewer::reveal(const std::filesystem::path& item)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolderOf(item);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("ShowItems"));
    call << QStringList {QUrl::fromLocalFile(QString::fromStdString(item.string())).toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this, [item](QDBusPendingCallWatcher* finished) {
        if (finished->isError())
            openFolderOf(item); // no file manager owns the name, or it failed
        finished->deleteLater();
    });
}

void LinuxFileViewer::openFolderOf(const std::filesystem::path& item)
{
    try {
        DetachedProcess::start("xdg-open", {item.parent_path().string()});
    } catch (const std::exception&) {
        // Not reported: revealing is a convenience.
    }
}

} // namespace korvel
