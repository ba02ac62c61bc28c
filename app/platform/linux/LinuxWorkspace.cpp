#include "app/platform/linux/LinuxWorkspace.hpp"

#include "app/platform/linux/DesktopSession.hpp"
#include "app/platform/linux/DetachedProcess.hpp"
#include "app/platform/linux/RelayReports.hpp"
#include "app/platform/linux/WaylandActivation.hpp"
#include "app/platform/linux/X11Desktop.hpp"
#include "core/building/AppBundle.hpp"
#include "core/model/AppPaths.hpp"
#include "core/model/ClaudeDesktop.hpp"
#include "core/model/ClaudeInstall.hpp"
#include "core/model/Profile.hpp"
#include "core/support/FileError.hpp"

#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace korvel {
namespace {

// How often the process of one active window is looked for again before it counts as no application's.
constexpr int retriesPerWindow = 2;

// Processes of one bundle continue an application when any of them was already one of its processes;
// otherwise the old instance quit and a new one started between two looks.
bool continues(const LinuxRunningApplication& application, const std::vector<ProcessScanner::Process>& processes)
{
    for (const auto& process : processes)
        for (const auto& known : application.processes())
            if (process == known)
                return true;
    return false;
}

} // namespace

// What the workspace and its scanning thread share, under the mutex; `scan` belongs to the thread. The workspace
// may be gone when a stuck look finally returns.
struct LinuxWorkspace::Scanning
{
    std::mutex mutex;
    std::condition_variable wake; // a look is asked for, or the workspace is gone
    std::condition_variable finished;
    bool requested = false;
    bool running = false;
    LinuxWorkspace* owner = nullptr; // nullptr once the workspace is gone
    std::optional<std::filesystem::path> scope;
    std::optional<std::filesystem::path> appsFolder;
    std::vector<std::pair<pid_t, std::filesystem::path>> started; // not yet told to the scan
    std::optional<WorkspaceScan::Result> result;
    std::chrono::nanoseconds duration {};
    int completed = 0;
    WorkspaceScan scan;

    void run()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return requested || !owner; });
            if (!owner)
                return;
            requested = false;
            running = true;
            const auto startedNow = std::exchange(started, {});
            const auto scopeNow = scope;
            scan.setAppsFolder(appsFolder);
            lock.unlock();
            const auto begin = std::chrono::steady_clock::now();
            for (const auto& [pid, bundle] : startedNow)
                scan.started(pid, bundle);
            WorkspaceScan::Result found = scan.run(scopeNow);
            const auto took = std::chrono::steady_clock::now() - begin;
            lock.lock();
            result = std::move(found);
            duration = took;
            running = false;
            ++completed;
            finished.notify_all();
            // Under the lock: the workspace cannot be destroyed meanwhile, and Qt drops the call if it goes later.
            if (owner)
                QMetaObject::invokeMethod(owner, &LinuxWorkspace::collect, Qt::QueuedConnection);
        }
    }
};

LinuxWorkspace::LinuxWorkspace(std::shared_ptr<X11Desktop> desktop, std::chrono::milliseconds tick,
    std::chrono::milliseconds firstScanWait, QObject* parent)
    : QObject(parent)
    , m_desktop(std::move(desktop))
    , m_session(DesktopSession::current())
    , m_activation(WaylandActivation::connect())
    , m_scanning(std::make_shared<Scanning>())
{
    m_scanning->owner = this;
    // Claude of a Linux install runs outside any bundle; the scan has to know its program to see it, and where
    // the profile apps are whose data folders tell its processes apart.
    try {
        const AppPaths paths = AppPaths::live();
        if (const auto claude = ClaudeInstall::at(paths.sourceApp))
            m_scanning->scan.recognise(*claude);
        m_scanning->appsFolder = paths.appsDir;
    } catch (const std::exception&) {
        // No home folder: no profile apps either.
    }
    std::thread([scanning = m_scanning] { scanning->run(); }).detach();
    refresh();
    if (firstScanWait.count() > 0) {
        std::unique_lock lock(m_scanning->mutex);
        m_scanning->finished.wait_for(lock, firstScanWait, [this] { return m_scanning->completed > 0; });
    }
    collect(); // a slow first look is applied when it arrives

    QObject::connect(&m_exits, &ProcessExits::exited, this, &LinuxWorkspace::refresh);
    m_timer.setInterval(tick);
    QObject::connect(&m_timer, &QTimer::timeout, this, &LinuxWorkspace::tick);
    m_timer.start();
    if (m_desktop) {
        QObject::connect(m_desktop.get(), &X11Desktop::activeWindowChanged, this, &LinuxWorkspace::frontChanged);
        QObject::connect(m_desktop.get(), &X11Desktop::windowsChanged, this, &LinuxWorkspace::claimWindows);
        m_desktop->setClaim([this](pid_t pid) { return classFor(pid); });
    }
}

LinuxWorkspace::~LinuxWorkspace()
{
    {
        std::unique_lock lock(m_scanning->mutex);
        m_scanning->owner = nullptr;
        m_scanning->wake.notify_all();
        // A look still running when the process exits would read /proc and property lists while the libraries it
        // uses are torn down: let a normal one finish; one stuck on a process's memory map is left behind.
        m_scanning->finished.wait_for(lock, std::chrono::seconds(1), [this] { return !m_scanning->running; });
    }
    if (m_desktop) {
        m_desktop->setClaim({});
        QObject::disconnect(m_desktop.get(), nullptr, this, nullptr);
    }
}

void LinuxWorkspace::refresh()
{
    m_lastStartedPid = ProcessScanner::lastStartedPid();
    {
        const std::lock_guard lock(m_scanning->mutex);
        m_scanning->requested = true; // a running look may have missed what this is about: one more follows
    }
    m_scanning->wake.notify_all();
}

void LinuxWorkspace::listenToRelays()
{
    if (const auto reports = RelayReports::defaultSocket();
        reports && Workspace::isWayland(m_session) && !m_relayReports)
        m_relayReports = std::make_unique<RelayReports>(
            *reports, [this](const std::string& appId, bool active) { relayReported(appId, active); });
}

void LinuxWorkspace::tick()
{
    // One small read a tick while nothing starts: the kernel's latest pid.
    if (m_unsettled || ProcessScanner::lastStartedPid() != m_lastStartedPid)
        refresh();
}

std::chrono::nanoseconds LinuxWorkspace::lastScanDuration() const
{
    const std::lock_guard lock(m_scanning->mutex);
    return m_scanning->duration;
}

int LinuxWorkspace::scans() const
{
    const std::lock_guard lock(m_scanning->mutex);
    return m_scanning->completed;
}

void LinuxWorkspace::collect()
{
    std::optional<WorkspaceScan::Result> result;
    {
        const std::lock_guard lock(m_scanning->mutex);
        result = std::exchange(m_scanning->result, std::nullopt);
    }
    if (!result)
        return; // taken already
    const bool initial = !std::exchange(m_scanned, true);
    apply(std::move(*result), initial);
    if (initial) {
        queue(Event::DidLaunchApplication, nullptr); // what runs is known now; what is in front was not activated
        if (const auto pid = m_desktop ? m_desktop->activeWindowProcess() : std::nullopt)
            m_front = applicationOwning(*pid);
    } else if (!m_relayActive && std::exchange(m_activationPending, false)) {
        activeWindowChanged();
    }
    if (m_relayPending)
        relayFront(false);
}

void LinuxWorkspace::apply(WorkspaceScan::Result scan, bool initial)
{
    auto& found = scan.applications;
    bool appeared = false;
    for (auto it = m_running.begin(); it != m_running.end();) {
        const auto same = found.find(it->first);
        if (same != found.end() && continues(*it->second, same->second.processes)) {
            it->second->setProcesses(std::move(same->second.processes));
            found.erase(same);
            ++it;
            continue;
        }
        it->second->markTerminated();
        queue(Event::DidTerminateApplication, it->second);
        it = m_running.erase(it);
    }
    for (auto& [bundle, application] : found) {
        if (!WorkspaceScan::isInside(bundle, m_scope))
            continue; // looked at before the workspace was restricted
        auto running = std::make_shared<LinuxRunningApplication>(bundle, std::move(application.bundleIdentifier),
            std::move(application.processes), m_desktop, m_session, m_activation);
        m_running.emplace(bundle, running);
        appeared = true;
        // What runs already at start was not launched now, unless Korvel opened it meanwhile.
        const bool opened = std::ranges::any_of(running->processes(),
            [this](const ProcessScanner::Process& process) { return m_started.contains(process.pid); });
        if (!initial || opened)
            queue(Event::DidLaunchApplication, running);
    }
    m_others = std::unordered_set<pid_t>(scan.others.begin(), scan.others.end());
    m_unsettled = scan.unsettled;
    std::set<pid_t> watched;
    for (const auto& [bundle, application] : m_running) {
        const auto pids = application->pids();
        watched.insert(pids.begin(), pids.end());
    }
    m_exits.watchOnly(watched);
    // A pid this look saw is known now, as an application's or as nobody's.
    std::erase_if(
        m_started, [this](const auto& item) { return m_others.contains(item.first) || applicationOwning(item.first); });
    if (appeared)
        claimWindows(); // their windows may have come before the look found them
}

void LinuxWorkspace::claimWindows()
{
    if (!m_desktop)
        return;
    // A profile app's windows carry its identifier, the StartupWMClass of its desktop entry: docks then show
    // them under the profile's name and badge, not under Claude's (Claude names its windows after itself).
    for (const auto& [bundle, application] : m_running) {
        const auto identifier = application->bundleIdentifier();
        if (identifier && Profile::profileIDFromBundleIdentifier(*identifier))
            m_desktop->claimWindows(application->pids(), *identifier);
    }
}

// Asked by the desktop as soon as a window exists, before it is mapped.
std::optional<std::string> LinuxWorkspace::classFor(pid_t pid)
{
    std::optional<std::string> identifier;
    if (const auto application = applicationOwning(pid))
        identifier = application->bundleIdentifier();
    else if (const auto started = m_started.find(pid); started != m_started.end())
        identifier = m_identifiers.identifier(started->second);
    else if (!m_others.contains(pid))
        refresh(); // a process newer than the latest look: its windows are claimed once it is known
    if (identifier && Profile::profileIDFromBundleIdentifier(*identifier))
        return identifier;
    return std::nullopt;
}

void LinuxWorkspace::restrictTo(const std::filesystem::path& folder)
{
    m_scope = AppBundle::resolvedLocation(folder);
    {
        const std::lock_guard lock(m_scanning->mutex);
        m_scanning->scope = m_scope;
    }
    std::erase_if(m_running, [this](const auto& item) { return !WorkspaceScan::isInside(item.first, m_scope); });
}

void LinuxWorkspace::setAppsFolder(const std::filesystem::path& folder)
{
    const std::lock_guard lock(m_scanning->mutex);
    m_scanning->appsFolder = folder;
}

void LinuxWorkspace::queue(Event event, std::shared_ptr<RunningApplication> application)
{
    m_pending.emplace_back(event, std::move(application));
    if (m_deliveryQueued)
        return;
    m_deliveryQueued = true;
    QMetaObject::invokeMethod(this, &LinuxWorkspace::deliver, Qt::QueuedConnection);
}

void LinuxWorkspace::deliver()
{
    m_deliveryQueued = false;
    const auto pending = std::exchange(m_pending, {});
    for (const auto& [event, application] : pending) {
        const auto [first, last] = m_handlers.equal_range(event);
        std::vector<Handler> handlers;
        for (auto it = first; it != last; ++it)
            handlers.push_back(it->second); // a handler may observe more
        for (const Handler& handler : handlers)
            handler(application);
    }
}

void LinuxWorkspace::frontChanged()
{
    if (m_relayActive)
        relayFront(true);
    else if (m_desktop)
        activeWindowChanged();
    else
        frontUnknown();
}

void LinuxWorkspace::relayReported(const std::string& appId, bool active)
{
    if (!Profile::profileIDFromBundleIdentifier(appId))
        return; // only profile apps have relays
    if (active)
        m_relayActive = appId;
    else if (m_relayActive == appId)
        m_relayActive.reset();
    else
        return; // another relay's window became active before this one's went: that one is in front
    m_relayPending = false;
    frontChanged();
}

// The application of the window a relay reports active. Until a look has found it, the front is unknown
// (`mayLook`: ask for one).
void LinuxWorkspace::relayFront(bool mayLook)
{
    for (const auto& [bundle, application] : m_running) {
        if (application->bundleIdentifier() == m_relayActive) {
            m_relayPending = false;
            setFront(application);
            return;
        }
    }
    frontUnknown();
    m_relayPending = true;
    if (mayLook)
        refresh();
}

void LinuxWorkspace::frontUnknown()
{
    m_front.reset();
    if (std::exchange(m_frontKnown, false))
        queue(Event::FrontmostUnknown, nullptr);
}

void LinuxWorkspace::activeWindowChanged()
{
    const auto active = m_desktop->activeWindow();
    if (!active) {
        // In a Wayland session a native window has the focus: which application is in front is not known now.
        if (Workspace::isWayland(m_session))
            frontUnknown();
        else
            m_front.reset();
        return;
    }
    if (active->window != m_retriedWindow) {
        m_retriedWindow = active->window;
        m_retries = 0;
    }
    if (!active->process) {
        setFront(nullptr);
        return;
    }
    const auto application = applicationOwning(*active->process);
    if (!application && !m_others.contains(*active->process) && m_retries < retriesPerWindow) {
        // A window of a process newer than the latest look: look again, a bounded number of times.
        ++m_retries;
        ++m_windowLookups;
        m_activationPending = true;
        refresh();
        return;
    }
    setFront(application);
}

void LinuxWorkspace::setFront(const std::shared_ptr<LinuxRunningApplication>& application)
{
    const bool known = std::exchange(m_frontKnown, true);
    if (known && application == m_front.lock())
        return;
    m_front = application;
    if (application)
        queue(Event::DidActivateApplication, application);
}

std::shared_ptr<LinuxRunningApplication> LinuxWorkspace::applicationOwning(pid_t pid) const
{
    for (const auto& [bundle, application] : m_running)
        if (application->owns(pid))
            return application;
    return nullptr;
}

std::shared_ptr<LinuxRunningApplication> LinuxWorkspace::applicationAt(const std::filesystem::path& bundle) const
{
    const auto found = m_running.find(AppBundle::resolvedLocation(bundle));
    return found != m_running.end() ? found->second : nullptr;
}

std::vector<std::shared_ptr<RunningApplication>> LinuxWorkspace::runningApplications() const
{
    std::vector<std::shared_ptr<RunningApplication>> applications;
    applications.reserve(m_running.size());
    for (const auto& [bundle, application] : m_running)
        applications.push_back(application);
    return applications;
}

std::shared_ptr<RunningApplication> LinuxWorkspace::frontmostApplication() const
{
    if (m_relayActive)
        return m_front.lock();
    if (!m_desktop)
        return nullptr;
    const auto pid = m_desktop->activeWindowProcess();
    if (!pid)
        return nullptr;
    return applicationOwning(*pid);
}

void LinuxWorkspace::observe(Event event, Handler handler)
{
    m_handlers.emplace(event, std::move(handler));
}

QCoro::Task<> LinuxWorkspace::openApplication(std::filesystem::path bundle)
{
    // The latest look may still list an application that has just quit (a restart): that one is started anew.
    if (const auto running = applicationAt(bundle); running && !running->isTerminated()) {
        running->unhide();
        if (!running->activate())
            throw std::runtime_error("its program could not be started to bring its native Wayland windows forward");
        co_return;
    }
    const auto executable = executableOf(bundle);
    if (!executable) {
        const std::filesystem::path infoPlist = AppBundle::infoPlist(bundle);
        if (::access(infoPlist.c_str(), F_OK) != 0)
            FileError::throwRead(infoPlist, errno);
        throw FileError(FileError::Kind::ReadCorrupt, infoPlist, 0, "it names no executable");
    }
    if (::access(executable->c_str(), X_OK) != 0)
        FileError::throwRead(*executable, errno);
    std::optional<std::string> token;
    if (const auto identifier = bundleIdentifier(bundle); m_activation && identifier)
        token = m_activation->tokenFor(*identifier);
    const pid_t pid = DetachedProcess::start(*executable, {}, token);
    // The launcher becomes Claude in this process: it is the app's main process whatever its command line says.
    const auto resolved = AppBundle::resolvedLocation(bundle);
    m_started[pid] = resolved;
    {
        const std::lock_guard lock(m_scanning->mutex);
        m_scanning->started.emplace_back(pid, resolved);
    }
    refresh(); // its launch shows with this look or the next
    co_return;
}

void LinuxWorkspace::openURLs(const std::vector<std::string>& urls, const std::filesystem::path& application)
{
    const auto executable = executableOf(application);
    if (!executable)
        return;
    try {
        DetachedProcess::start(*executable, urls);
    } catch (const std::exception&) {
        // Not reported: the links are simply not opened, as when the application ignores them.
    }
}

std::optional<std::string> LinuxWorkspace::bundleIdentifier(const std::filesystem::path& bundle) const
{
    if (const auto install = ClaudeInstall::at(bundle); install && install->kind == ClaudeInstall::Kind::Linux)
        return std::string(ClaudeDesktop::bundleIdentifier);
    return m_identifiers.identifier(bundle);
}

std::optional<std::filesystem::path> LinuxWorkspace::executableOf(const std::filesystem::path& application)
{
    if (const auto install = ClaudeInstall::at(application); install && install->kind == ClaudeInstall::Kind::Linux)
        return install->executable;
    return AppBundle::executable(application);
}

} // namespace korvel
