// GIO first: its headers name struct members "signals", which Qt defines as a macro.
#include <gio/gio.h>

#include "app/platform/linux/LinuxFileViewer.hpp"

#include "app/platform/linux/DetachedProcess.hpp"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QUrl>

#include <stdexcept>

namespace korvel {

LinuxFileViewer::LinuxFileViewer(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{ }

void LinuxFileViewer::reveal(const std::filesystem::path& item)
{
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    QDBusConnectionInterface* names = m_bus.isConnected() ? m_bus.interface() : nullptr;
    // A file manager that runs, or one the bus starts when asked.
    if (!names ||
        !(names->isServiceRegistered(service).value() || names->activatableServiceNames().value().contains(service))) {
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
        if (finished->isError()) {
            try {
                openFolderOf(item); // the file manager failed
            } catch (const std::exception&) {
                // asked already; nothing else would show it
            }
        }
        finished->deleteLater();
    });
}

void LinuxFileViewer::openFolderOf(const std::filesystem::path& item)
{
    // xdg-open would find nothing either; it says so only in its exit status, long after.
    GAppInfo* folders = g_app_info_get_default_for_type("inode/directory", FALSE);
    if (!folders)
        throw std::runtime_error("No file manager is set up to show folders on this desktop.");
    g_object_unref(folders);
    DetachedProcess::start("xdg-open", {item.parent_path().string()});
}

} // namespace korvel
