#include "app/platform/linux/LinuxFileViewer.hpp"

#include "app/platform/linux/DetachedProcess.hpp"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QUrl>

namespace korvel {

LinuxFileViewer::LinuxFileViewer(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{ }

void LinuxFileViewer::reveal(const std::filesystem::path& item)
{
    if (!m_bus.isConnected()) {
        openFolderOf(item);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("ShowItems"));
    call << QStringList {QUrl::fromLocalFile(QString::fromStdString(item.string())).toString(QUrl::FullyEncoded)}
         << QString();
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
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
