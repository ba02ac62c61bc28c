#pragma once

#include "app/platform/RunningApplication.hpp"
#include "app/platform/Workspace.hpp"
#include "app/platform/linux/ProcessScanner.hpp"

#include <filesystem>
#include <memory>
#include <set>
#include <vector>

namespace korvel {

class WaylandActivation;
class X11Desktop;

// One application running on this desktop: every process of this user that belongs to its bundle (or install).
// Its main process is its oldest that is no helper (a Chromium-family program's browser process); it has quit
// once none of its processes is left. Main thread only.
class LinuxRunningApplication : public RunningApplication
{
public:
    LinuxRunningApplication(std::filesystem::path bundle, std::optional<std::string> bundleIdentifier,
        std::vector<ProcessScanner::Process> processes, std::shared_ptr<X11Desktop> desktop, Workspace::Session session,
        std::shared_ptr<WaylandActivation> activation = nullptr);

    std::optional<std::string> bundleIdentifier() const override { return m_bundleIdentifier; }
    bool isTerminated() const override;
    // SIGTERM to the main process, which ends its helpers.
    void terminate() override;
    void unhide() override;
    // Activates its topmost X11 window. Without one in a Wayland session (its windows are native there), starts
    // its bundle's executable again, which asks the running instance to activate its window (with a token of
    // `activation` when the user's press on Korvel asked for it); false when that cannot be started. True elsewhere
    // (it has no window to show yet).
    bool activate() override;

    const std::filesystem::path& bundle() const { return m_bundle; }
    const ProcessScanner::Process& mainProcess() const { return m_processes.front(); }
    const std::vector<ProcessScanner::Process>& processes() const { return m_processes; }
    std::set<pid_t> pids() const;
    bool owns(pid_t pid) const;

    // The processes of its bundle found by the latest scan (not empty).
    void setProcesses(std::vector<ProcessScanner::Process> processes);
    // The latest scan found none of its processes.
    void markTerminated() { m_terminated = true; }

private:
    std::filesystem::path m_bundle;
    std::optional<std::string> m_bundleIdentifier;
    std::vector<ProcessScanner::Process> m_processes; // the main process first, then the others oldest first
    std::shared_ptr<X11Desktop> m_desktop;
    Workspace::Session m_session;
    std::shared_ptr<WaylandActivation> m_activation;
    bool m_terminated = false;
};

} // namespace korvel
