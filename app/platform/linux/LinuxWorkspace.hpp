#pragma once

#include "app/platform/Workspace.hpp"
#include "app/platform/linux/BundleIdentifierCache.hpp"
#include "app/platform/linux/LinuxRunningApplication.hpp"
#include "app/platform/linux/ProcessScanner.hpp"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <map>
#include <utility>

namespace korvel {

class X11Desktop;

// The workspace of a Linux desktop. Running applications come from a scan of /proc (ProcessScanner), one per
// bundle; launches and terminations from comparing each scan with the one before, about once a second; the
// frontmost application and activations from the X11 window manager when there is one. Events are delivered
// from the event loop, never from inside a call of the model. Main thread only.
class LinuxWorkspace : public QObject, public Workspace
{
    Q_OBJECT

public:
    // `desktop` may be nullptr: then the frontmost application is unknown and activation does nothing.
    explicit LinuxWorkspace(std::shared_ptr<X11Desktop> desktop,
        std::chrono::milliseconds scanInterval = std::chrono::seconds(1), QObject* parent = nullptr);
    ~LinuxWorkspace() override;

    std::vector<std::shared_ptr<RunningApplication>> runningApplications() const override;
    std::shared_ptr<RunningApplication> frontmostApplication() const override;
    void observe(Event event, Handler handler) override;
    // A running bundle is brought to the front; otherwise its CFBundleExecutable is started. Throws FileError
    // when the bundle names no executable or it is missing or not executable, std::runtime_error when it
    // cannot be started.
    QCoro::Task<> openApplication(std::filesystem::path bundle) override;
    void openURLs(const std::vector<std::string>& urls, const std::filesystem::path& application) override;
    std::optional<std::string> bundleIdentifier(const std::filesystem::path& bundle) const override;

    // Scans now and queues the events of what changed since the previous scan.
    void refresh();
    // How long the latest scan took.
    std::chrono::nanoseconds lastScanDuration() const { return m_lastScanDuration; }

private:
    std::shared_ptr<LinuxRunningApplication> applicationOwning(pid_t pid) const;
    std::shared_ptr<LinuxRunningApplication> applicationAt(const std::filesystem::path& bundle) const;
    void activeWindowChanged();
    void queue(Event event, std::shared_ptr<RunningApplication> application);
    void deliver();

    std::shared_ptr<X11Desktop> m_desktop;
    ProcessScanner m_scanner;
    mutable BundleIdentifierCache m_identifiers;
    std::map<std::filesystem::path, std::shared_ptr<LinuxRunningApplication>> m_running;
    std::weak_ptr<LinuxRunningApplication> m_front;
    std::multimap<Event, Handler> m_handlers;
    std::vector<std::pair<Event, std::shared_ptr<RunningApplication>>> m_pending;
    bool m_deliveryQueued = false;
    QTimer m_timer;
    std::chrono::nanoseconds m_lastScanDuration {};
};

} // namespace korvel
