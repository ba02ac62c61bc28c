#include "app/platform/linux/WorkspaceScan.hpp"

#include "core/model/ClaudeDesktop.hpp"

namespace korvel {

WorkspaceScan::Result WorkspaceScan::run(const std::optional<std::filesystem::path>& scope)
{
    Result result;
    for (auto& process : m_scanner.scan())
        if (isInside(process.bundle, scope))
            result[process.bundle].processes.push_back(std::move(process));
    for (auto& [bundle, application] : result)
        application.bundleIdentifier = m_scanner.isInstall(bundle) ? std::string(ClaudeDesktop::bundleIdentifier)
                                                                   : m_identifiers.identifier(bundle);
    return result;
}

void WorkspaceScan::recognise(const ClaudeInstall& install)
{
    if (install.kind == ClaudeInstall::Kind::Linux)
        m_scanner.recognise(install.executable, install.location);
}

bool WorkspaceScan::isInside(const std::filesystem::path& bundle, const std::optional<std::filesystem::path>& scope)
{
    if (!scope)
        return true;
    const auto relative = bundle.lexically_relative(*scope);
    return !relative.empty() && *relative.begin() != "..";
}

} // namespace korvel
