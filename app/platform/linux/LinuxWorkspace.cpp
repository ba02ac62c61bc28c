#include "app/platform/linux/LinuxWorkspace.hpp"

#include "app/platform/linux/DetachedProcess.hpp"
#include "app/platform/linux/X11Desktop.hpp"
#include "core/building/AppBundle.hpp"
#include "core/support/FileError.hpp"

#include <QMetaObject>

#include <cerrno>
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

LinuxWorkspace::LinuxWorkspace(
    std::shared_ptr<X11Desktop> desktop, std::chrono::milliseconds scanInterval, QObject* parent)
    : QObject(parent)
    , m_desktop(std::move(desktop))
{
    refresh();
    m_pending.clear(); // what runs already was not launched now
    m_timer.setInterval(scanInterval);
    QObject::connect(&m_timer, &QTimer::timeout, this, &LinuxWorkspace::refresh);
    m_timer.start();
    if (m_desktop) {
        QObject::connect(m_desktop.get(), &X11Desktop::activeWindowChanged, this, &LinuxWorkspace::activeWindowChanged);
        if (const auto pid = m_desktop->activeWindowProcess())
            m_front = applicationOwning(*pid);
    }
}

LinuxWorkspace::~LinuxWorkspace()
{
    if (m_desktop)
        QObject::disconnect(m_desktop.get(), nullptr, this, nullptr);
}

void LinuxWorkspace::refresh()
{
    const auto started = std::chrono::steady_clock::now();
    std::map<std::filesystem::path, std::vector<ProcessScanner::Process>> byBundle;
    for (auto& process : m_scanner.scan())
        byBundle[process.bundle].push_back(std::move(process));
    m_lastScanDuration = std::chrono::steady_clock::now() - started;

    for (auto it = m_running.begin(); it != m_running.end();) {
        const auto found = byBundle.find(it->first);
        if (found != byBundle.end() && continues(*it->second, found->second)) {
            it->second->setProcesses(std::move(found->second));
            byBundle.erase(found);
            ++it;
            continue;
        }
        it->second->markTerminated();
        queue(Event::DidTerminateApplication, it->second);
        it = m_running.erase(it);
    }
    for (auto& [bundle, processes] : byBundle) {
        auto application = std::make_shared<LinuxRunningApplication>(
            bundle, m_identifiers.identifier(bundle), std::move(processes), m_desktop);
        m_running.emplace(bundle, application);
        queue(Event::DidLaunchApplication, application);
    }
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
    auto application = applicationOwning(*pid);
    if (!application) {
        refresh(); // a window of a process newer than the last scan
        application = applicationOwning(*pid);
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
    // The model asks right before it acts (open, delete, restart): answer from a fresh scan.
    const_cast<LinuxWorkspace*>(this)->refresh();
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
    if (auto application = applicationOwning(*pid))
        return application;
    const_cast<LinuxWorkspace*>(this)->refresh(); // a window of a process newer than the last scan
    return applicationOwning(*pid);
}

void LinuxWorkspace::observe(Event event, Handler handler)
{
    m_handlers.emplace(event, std::move(handler));
}

QCoro::Task<> LinuxWorkspace::openApplication(std::filesystem::path bundle)
{
    refresh();
    if (const auto running = applicationAt(bundle)) {
        running->unhide();
        running->activate();
        co_return;
    }
    const auto executable = AppBundle::executable(bundle);
    if (!executable) {
        const std::filesystem::path infoPlist = AppBundle::infoPlist(bundle);
        if (::access(infoPlist.c_str(), F_OK) != 0)
            FileError::throwRead(infoPlist, errno);
        throw FileError(FileError::Kind::ReadCorrupt, infoPlist, 0, "it names no executable");
    }
    if (::access(executable->c_str(), X_OK) != 0)
        FileError::throwRead(*executable, errno);
    DetachedProcess::start(*executable, {});
    co_return;
}

void LinuxWorkspace::openURLs(const std::vector<std::string>& urls, const std::filesystem::path& application)
{
    const auto executable = AppBundle::executable(application);
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
    return m_identifiers.identifier(bundle);
}

} // namespace korvel
