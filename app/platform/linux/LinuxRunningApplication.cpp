#include "app/platform/linux/LinuxRunningApplication.hpp"

#include "app/platform/linux/DetachedProcess.hpp"
#include "app/platform/linux/WaylandActivation.hpp"
#include "app/platform/linux/X11Desktop.hpp"
#include "core/building/AppBundle.hpp"

#include <algorithm>
#include <csignal>
#include <unistd.h>

namespace korvel {

LinuxRunningApplication::LinuxRunningApplication(std::filesystem::path bundle,
    std::optional<std::string> bundleIdentifier, std::vector<ProcessScanner::Process> processes,
    std::shared_ptr<X11Desktop> desktop, Workspace::Session session, std::shared_ptr<WaylandActivation> activation)
    : m_bundle(std::move(bundle))
    , m_bundleIdentifier(std::move(bundleIdentifier))
    , m_desktop(std::move(desktop))
    , m_session(session)
    , m_activation(std::move(activation))
{
    setProcesses(std::move(processes));
}

void LinuxRunningApplication::setProcesses(std::vector<ProcessScanner::Process> processes)
{
    std::sort(processes.begin(), processes.end(), [](const auto& a, const auto& b) {
        if (a.helper != b.helper)
            return !a.helper;
        return a.startTime != b.startTime ? a.startTime < b.startTime : a.pid < b.pid;
    });
    m_processes = std::move(processes);
}

bool LinuxRunningApplication::isTerminated() const
{
    // Asked right after terminate(), between scans: look at the processes themselves. Helpers outlive their main
    // process for a moment; a restart must not start the app while they still hold its data folder.
    return m_terminated || std::none_of(m_processes.begin(), m_processes.end(), [](const auto& process) {
        return ProcessScanner::startTime(process.pid) == process.startTime;
    });
}

void LinuxRunningApplication::terminate()
{
    if (ProcessScanner::startTime(mainProcess().pid) == mainProcess().startTime)
        ::kill(mainProcess().pid, SIGTERM);
}

void LinuxRunningApplication::unhide()
{
    if (m_desktop && !isTerminated())
        m_desktop->unhide(pids());
}

bool LinuxRunningApplication::activate()
{
    if (isTerminated())
        return true;
    if (m_desktop && m_desktop->activate(pids()))
        return true;
    if (!Workspace::isWayland(m_session))
        return true;
    // Native Wayland windows: only their own program may ask the compositor to activate them, with an
    // xdg-activation token. Chromium and Electron programs do when started again: the new process hands over to
    // the running one, which activates its window, with the token it was started with if any; the compositor then
    // focuses it or marks it urgent.
    const auto executable = AppBundle::executable(m_bundle);
    if (!executable || ::access(executable->c_str(), X_OK) != 0)
        return false;
    std::optional<std::string> token;
    if (m_activation && m_bundleIdentifier)
        token = m_activation->tokenFor(*m_bundleIdentifier);
    try {
        DetachedProcess::start(*executable, {}, token);
    } catch (const std::exception&) {
        return false;
    }
    return true;
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
