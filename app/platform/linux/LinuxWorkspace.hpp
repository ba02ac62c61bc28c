#pragma once

#include "app/platform/Workspace.hpp"
#include "app/platform/linux/BundleInfoCache.hpp"
#include "app/platform/linux/LinuxRunningApplication.hpp"
#include "app/platform/linux/ProcessExits.hpp"
#include "app/platform/linux/WorkspaceScan.hpp"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <map>
#include <optional>
#include <unordered_set>
#include <utility>

namespace korvel {

class RelayReports;
class WaylandActivation;
class X11Desktop;

// The workspace of a Linux desktop. Running applications come from looks at /proc (WorkspaceScan), one per bundle,
// taken only when something may have changed: a process started (the kernel's latest pid moved, checked once per
// tick), one of an application's processes ended (pidfd), Korvel opened an application, or the desktop shows a
// window of a process newer than the latest look. Launches and terminations come from comparing each look with
// the one before; the frontmost application and activations from the X11 window manager when there is one, and in
// a Wayland session from the profile apps' relays (RelayReports), which are believed first: they speak of native
// windows, which the X11 window manager cannot see.
// Events are delivered from the event loop, never from inside a call of the model. Main thread only.
//
// Looks at /proc run on one thread of Korvel's own, one at a time: reading /proc can block for as long as another
// process holds its memory map (a core dump, for one), and that must never stall Korvel's event loop. The answers
// reflect the latest finished look; the first one is not awaited unless asked, and tells the observers of
// launches, without an application, that what runs is known now.
class LinuxWorkspace : public QObject, public Workspace
{
    Q_OBJECT

public:
    // `desktop` may be nullptr: then the frontmost application is unknown and activation does nothing.
    // `tick`: how often to check whether a process has started. Waits up to `firstScanWait` for the first look.
    explicit LinuxWorkspace(std::shared_ptr<X11Desktop> desktop,
        std::chrono::milliseconds tick = std::chrono::seconds(1),
        std::chrono::milliseconds firstScanWait = std::chrono::milliseconds(0), QObject* parent = nullptr);
    ~LinuxWorkspace() override;

    std::vector<std::shared_ptr<RunningApplication>> runningApplications() const override;
    std::shared_ptr<RunningApplication> frontmostApplication() const override;
    void observe(Event event, Handler handler) override;
    // A running bundle is brought to the front; otherwise its CFBundleExecutable is started (with an activation
    // token when the user's press on a native Wayland window of Korvel's asked for it). Throws FileError
    // when the bundle names no executable or it is missing or not executable, std::runtime_error when it
    // cannot be started.
    QCoro::Task<> openApplication(std::filesystem::path bundle) override;
    void openURLs(const std::vector<std::string>& urls, const std::filesystem::path& application) override;
    std::optional<std::string> bundleIdentifier(const std::filesystem::path& bundle) const override;
    Session session() const override { return m_session; }

    // Looks at /proc now, unless a look runs; the events of what changed follow when it finishes.
    void refresh();
    // From now on hears the profile apps' Wayland relays, in a Wayland session. Only for the Korvel that holds the
    // single instance: a command's short-lived workspace must not take the socket from it.
    void listenToRelays();
    // From now on only bundles inside `folder` count as applications; those outside are forgotten without
    // events. For sandboxes on a shared machine, whose other users' profile apps would otherwise show.
    void restrictTo(const std::filesystem::path& folder);
    // Where profile apps live (by default where AppPaths::live() says): a process whose data folder is one of
    // theirs is that app's.
    void setAppsFolder(const std::filesystem::path& folder);
    // How long the latest finished look took, and how many there were.
    std::chrono::nanoseconds lastScanDuration() const;
    int scans() const;
    // How many looks an active window of a process unknown to the latest look has asked for.
    int windowLookups() const { return m_windowLookups; }

private:
    struct Scanning;
    void tick();
    void collect();
    void apply(WorkspaceScan::Result scan, bool initial);
    std::shared_ptr<LinuxRunningApplication> applicationOwning(pid_t pid) const;
    std::shared_ptr<LinuxRunningApplication> applicationAt(const std::filesystem::path& bundle) const;
    void frontChanged();
    void activeWindowChanged();
    void relayReported(const std::string& appId, bool active);
    void relayFront(bool mayLook);
    void frontUnknown();
    void setFront(const std::shared_ptr<LinuxRunningApplication>& application);
    void claimWindows();
    std::optional<std::string> classFor(pid_t pid);
    // The program that opens `application`: a bundle's CFBundleExecutable, or a Linux install's program.
    static std::optional<std::filesystem::path> executableOf(const std::filesystem::path& application);
    void queue(Event event, std::shared_ptr<RunningApplication> application);
    void deliver();

    std::shared_ptr<X11Desktop> m_desktop;
    Session m_session;
    std::shared_ptr<WaylandActivation> m_activation; // when Korvel's own windows are native Wayland ones
    std::shared_ptr<Scanning> m_scanning; // shared with the scanning thread, which may outlive the workspace
    std::optional<std::filesystem::path> m_scope;
    bool m_scanned = false; // the first look has been applied
    bool m_unsettled = false; // the latest look saw a young process that may still exec
    std::optional<pid_t> m_lastStartedPid; // the kernel's, when the latest look was asked for
    std::unordered_set<pid_t> m_others; // processes of no application at the latest look
    std::map<pid_t, std::filesystem::path> m_started; // by openApplication, until a look finds them
    bool m_activationPending = false; // the active window's process was not known yet
    std::uint32_t m_retriedWindow = 0; // the active window looked for again, and how often
    int m_retries = 0;
    int m_windowLookups = 0;
    bool m_frontKnown = true; // false while a window no look can attribute has the focus (Wayland)
    std::optional<std::string> m_relayActive; // the app id whose relay last said its window is active
    bool m_relayPending = false; // no look has found that app yet
    std::unique_ptr<RelayReports> m_relayReports; // in a Wayland session
    mutable BundleInfoCache m_identifiers; // for bundleIdentifier(), on the main thread
    std::map<std::filesystem::path, std::shared_ptr<LinuxRunningApplication>> m_running;
    std::weak_ptr<LinuxRunningApplication> m_front;
    std::multimap<Event, Handler> m_handlers;
    std::vector<std::pair<Event, std::shared_ptr<RunningApplication>>> m_pending;
    bool m_deliveryQueued = false;
    ProcessExits m_exits;
    QTimer m_timer;
};

} // namespace korvel
