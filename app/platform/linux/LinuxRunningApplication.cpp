#include "app/platform/linux/LinuxRunningApplication.hpp"

#include "app/platform/linux/X11Desktop.hpp"

#include <algorithm>
#include <csignal>

namespace korvel {

LinuxRunningApplication::LinuxRunningApplication(std::filesystem::path bundle,
    std::optional<std::string> bundleIdentifier, std::vector<ProcessScanner::Process> processes,
    std::shared_ptr<X11Desktop> desktop)
    : m_bundle(std::move(bundle))
    , m_bundleIdentifier(std::move(bundleIdentifier))
    , m_desktop(std::move(desktop))
{
    setProcesses(std::move(processes));
}

void LinuxRunningApplication::setProcesses(std::vector<ProcessScanner::Process> processes)
{
    std::sort(processes.begin(), processes.end(), [](const auto& a, const auto& b) {
        return a.startTime != b.startTime ? a.startTime < b.startTime : a.pid < b.pid;
    });
    m_processes = std::move(processes);
}

bool LinuxRunningApplication::isTerminated() const
{
    // Asked right after terminate(), between scans: look at the main process itself.
    return m_terminated || ProcessScanner::startTime(mainProcess().pid) != mainProcess().startTime;
}

void LinuxRunningApplication::terminate()
{
    if (!isTerminated())
        ::kill(mainProcess().pid, SIGTERM);
}

void LinuxRunningApplication::unhide()
{
    if (m_desktop && !isTerminated())
        m_desktop->unhide(pids());
}

void LinuxRunningApplication::activate()
{
    if (m_desktop && !isTerminated())
        m_desktop->activate(pids());
}

std::set<pid_t> LinuxRunningApplication::pids() const
{
    std::set<pid_t> pids;
    for (const auto& process : m_processes)
        pids.insert(process.pid);
    return pids;
}

bool LinuxRunningApplication::owns(pid_t pid) const
{
    return std::any_of(
        m_processes.begin(), m_processes.end(), [pid](const auto& process) { return process.pid == pid; });
}

} // namespace korvel
