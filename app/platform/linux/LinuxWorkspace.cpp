#include "app/platform/linux/LinuxWorkspace.hpp"

#include "app/platform/linux/DetachedProcess.hpp"
#include "app/platform/linux/X11Desktop.hpp"
#include "core/building/AppBundle.hpp"
#include "core/model/ClaudeDesktop.hpp"
#include "core/model/ClaudeInstall.hpp"
#include "core/model/Profile.hpp"
#include "core/support/FileError.hpp"

#include <QMetaObject>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace korvel {
namespace {

// Processes of one bundle continue an application when any of them was already one of its processes;
// otherwise the old instance quit and a new one started between two scans.
bool continues(const LinuxRunningApplication& application, const std::vector<ProcessScanner::Process>& processes)
{
    for (const auto& process : processes)
        for (const auto& known : application.processes())
            if (process == known)
                return true;
    return false;
}

} // namespace

// What the workspace and its scan thread share. The thread touches `scan` only while `running` is set by it, and
// the rest only under the mutex; the workspace may be gone when a stuck scan finally returns.
struct LinuxWorkspace::Scanning
{
    std::mutex mutex;
    std::condition_variable finished;
    bool running = false;
    LinuxWorkspace* owner = nullptr; // nullptr once the workspace is gone
    std::optional<WorkspaceScan::Result> result;
    std::chrono::nanoseconds duration {};
    WorkspaceScan scan;
};

LinuxWorkspace::LinuxWorkspace(std::shared_ptr<X11Desktop> desktop, std::chrono::milliseconds scanInterval,
    std::chrono::milliseconds firstScanWait, QObject* parent)
    : QObject(parent)
    , m_desktop(std::move(desktop))
    , m_scanning(std::make_shared<Scanning>())
{
    m_scanning->owner = this;
    // Claude of a Linux install runs outside any bundle; the scan has to know its program to see it.
    if (const auto claude = ClaudeInstall::at(ClaudeInstall::find()))
        m_scanning->scan.recognise(*claude);
    refresh();
    {
        std::unique_lock lock(m_scanning->mutex);
        m_scanning->finished.wait_for(lock, firstScanWait, [this] { return !m_scanning->running; });
    }
    collect(); // a slow first scan is applied when it arrives, its applications reported as launched
    m_timer.setInterval(scanInterval);
    QObject::connect(&m_timer, &QTimer::timeout, this, &LinuxWorkspace::refresh);
    m_timer.start();
    if (m_desktop) {
        QObject::connect(m_desktop.get(), &X11Desktop::activeWindowChanged, this, &LinuxWorkspace::activeWindowChanged);
        QObject::connect(m_desktop.get(), &X11Desktop::windowsChanged, this, &LinuxWorkspace::claimWindows);
        if (const auto pid = m_desktop->activeWindowProcess())
            m_front = applicationOwning(*pid);
    }
}

LinuxWorkspace::~LinuxWorkspace()
{
    {
        const std::lock_guard lock(m_scanning->mutex);
        m_scanning->owner = nullptr;
    }
    if (m_desktop)
        QObject::disconnect(m_desktop.get(), nullptr, this, nullptr);
}

void LinuxWorkspace::refresh()
{
    const std::lock_guard lock(m_scanning->mutex);
    if (m_scanning->running)
        return; // the one running (or stuck) is enough
    m_scanning->running = true;
    std::thread([scanning = m_scanning, scope = m_scope] {
        const auto started = std::chrono::steady_clock::now();
        WorkspaceScan::Result result = scanning->scan.run(scope);
        const std::lock_guard lock(scanning->mutex);
        scanning->result = std::move(result);
        scanning->duration = std::chrono::steady_clock::now() - started;
        scanning->running = false;
        scanning->finished.notify_all();
        // Under the lock: the workspace cannot be destroyed meanwhile, and Qt drops the call if it goes later.
        if (LinuxWorkspace* owner = scanning->owner)
            QMetaObject::invokeMethod(owner, &LinuxWorkspace::collect, Qt::QueuedConnection);
    }).detach();
}

std::chrono::nanoseconds LinuxWorkspace::lastScanDuration() const
{
    const std::lock_guard lock(m_scanning->mutex);
    return m_scanning->duration;
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
    apply(std::move(*result), m_running.empty() && !m_timer.isActive());
    if (std::exchange(m_activationPending, false))
        activeWindowChanged();
}

void LinuxWorkspace::apply(WorkspaceScan::Result scan, bool initial)
{
    bool appeared = false;
    for (auto it = m_running.begin(); it != m_running.end();) {
        const auto found = scan.find(it->first);
        if (found != scan.end() && continues(*it->second, found->second.processes)) {
            it->second->setProcesses(std::move(found->second.processes));
            scan.erase(found);
            ++it;
            continue;
        }
        it->second->markTerminated();
        queue(Event::DidTerminateApplication, it->second);
        it = m_running.erase(it);
    }
    for (auto& [bundle, found] : scan) {
        if (!WorkspaceScan::isInside(bundle, m_scope))
            continue; // scanned before the workspace was restricted
        auto application = std::make_shared<LinuxRunningApplication>(
            bundle, std::move(found.bundleIdentifier), std::move(found.processes), m_desktop);
        m_running.emplace(bundle, application);
        appeared = true;
        if (!initial) // what runs already at start was not launched now
            queue(Event::DidLaunchApplication, application);
    }
    if (appeared)
        claimWindows(); // their windows may have come before the scan found them
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

void LinuxWorkspace::restrictTo(const std::filesystem::path& folder)
{
    m_scope = AppBundle::resolvedLocation(folder);
    std::erase_if(m_running, [this](const auto& item) { return !WorkspaceScan::isInside(item.first, m_scope); });
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

void LinuxWorkspace::activeWindowChanged()
{
    const auto pid = m_desktop->activeWindowProcess();
    if (!pid)
        return;
    const auto application = applicationOwning(*pid);
    if (!application && !m_activationPending) {
        // Perhaps a window of a process newer than the last scan: look again once the next scan is in.
        m_activationPending = true;
        refresh();
        return;
    }
    if (application == m_front.lock())
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
    // The latest scan may still list an application that has just quit (a restart): that one is started anew.
    if (const auto running = applicationAt(bundle); running && !running->isTerminated()) {
        running->unhide();
        running->activate();
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
    DetachedProcess::start(*executable, {});
    refresh(); // its launch shows with this scan or the next
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
