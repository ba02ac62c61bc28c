#include "app/platform/linux/WorkspaceScan.hpp"

#include "core/model/ClaudeDesktop.hpp"

namespace korvel {

WorkspaceScan::Result WorkspaceScan::run(const std::optional<std::filesystem::path>& scope)
{
    ProcessScanner::Scan scan = m_scanner.scan(m_profiles);
    Result result {{}, std::move(scan.others), scan.unsettled};
    for (auto& process : scan.processes) {
        if (isInside(process.bundle, scope))
            result.applications[process.bundle].processes.push_back(std::move(process));
        else
            result.others.push_back(process.pid);
    }
    for (auto& [bundle, application] : result.applications)
        application.bundleIdentifier = m_scanner.isInstall(bundle) ? std::string(ClaudeDesktop::bundleIdentifier)
                                                                   : m_identifiers.identifier(bundle);
    return result;
}

void WorkspaceScan::recognise(const ClaudeInstall& install)
{
    if (install.kind == ClaudeInstall::Kind::Linux)
        m_scanner.recognise(install.executable, install.location);
}

void WorkspaceScan::started(pid_t pid, const std::filesystem::path& bundle)
{
    m_profiles.add(bundle);
    m_scanner.started(pid, bundle);
}

bool WorkspaceScan::isInside(const std::filesystem::path& bundle, const std::optional<std::filesystem::path>& scope)
{
    if (!scope)
        return true;
    const auto relative = bundle.lexically_relative(*scope);
    return !relative.empty() && *relative.begin() != "..";
}

} // namespace korvel
