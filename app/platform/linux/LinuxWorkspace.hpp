#pragma once

#include "app/platform/Workspace.hpp"
#include "app/platform/linux/BundleIdentifierCache.hpp"
#include "app/platform/linux/LinuxRunningApplication.hpp"
#include "app/platform/linux/WorkspaceScan.hpp"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <map>
#include <optional>
#include <utility>

namespace korvel {

class X11Desktop;

// The workspace of a Linux desktop. Running applications come from a scan of /proc (WorkspaceScan), one per
// bundle; launches and terminations from comparing each scan with the one before, about once a second; the
// frontmost application and activations from the X11 window manager when there is one. Events are delivered
// from the event loop, never from inside a call of the model. Main thread only.
//
// Scans run on a thread of their own, one at a time: reading /proc can block for as long as another process
// holds its memory map (a core dump, for one), and that must never stall Korvel's event loop. The answers
// therefore reflect the latest finished scan; the first one is awaited (for a while) at construction.
class LinuxWorkspace : public QObject, public Workspace
{
    Q_OBJECT

public:
    // `desktop` may be nullptr: then the frontmost application is unknown and activation does nothing.
    // Waits up to `firstScanWait` for the first scan, whose applications count as running, not as launched.
    explicit LinuxWorkspace(std::shared_ptr<X11Desktop> desktop,
        std::chrono::milliseconds scanInterval = std::chrono::seconds(1),
        std::chrono::milliseconds firstScanWait = std::chrono::seconds(3), QObject* parent = nullptr);
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

    // Starts a scan now, unless one runs; the events of what changed follow when it finishes.
    void refresh();
    // From now on only bundles inside `folder` count as applications; those outside are forgotten without
    // events. For sandboxes on a shared machine, whose other users' profile apps would otherwise show.
    void restrictTo(const std::filesystem::path& folder);
    // How long the latest finished scan took.
    std::chrono::nanoseconds lastScanDuration() const;

private:
    struct Scanning;
    void apply(WorkspaceScan::Result scan, bool initial);
    void collect();
    std::shared_ptr<LinuxRunningApplication> applicationOwning(pid_t pid) const;
    std::shared_ptr<LinuxRunningApplication> applicationAt(const std::filesystem::path& bundle) const;
    void activeWindowChanged();
    void claimWindows();
    // The program that opens `application`: a bundle's CFBundleExecutable, or a Linux install's program.
    static std::optional<std::filesystem::path> executableOf(const std::filesystem::path& application);
    void queue(Event event, std::shared_ptr<RunningApplication> application);
    void deliver();

    std::shared_ptr<X11Desktop> m_desktop;
    std::shared_ptr<Scanning> m_scanning; // shared with the scan thread, which may outlive the workspace
    std::optional<std::filesystem::path> m_scope;
    bool m_activationPending = false; // the active window's process was not known yet
    mutable BundleIdentifierCache m_identifiers; // for bundleIdentifier(), on the main thread
    std::map<std::filesystem::path, std::shared_ptr<LinuxRunningApplication>> m_running;
    std::weak_ptr<LinuxRunningApplication> m_front;
    std::multimap<Event, Handler> m_handlers;
    std::vector<std::pair<Event, std::shared_ptr<RunningApplication>>> m_pending;
    bool m_deliveryQueued = false;
    QTimer m_timer;
};

} // namespace korvel
