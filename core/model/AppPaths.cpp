#include "core/model/AppPaths.hpp"

#include "core/model/ClaudeInstall.hpp"
#include "core/support/XdgFolders.hpp"

namespace korvel {

AppPaths::AppPaths(std::filesystem::path supportDir, std::filesystem::path appsDir, std::filesystem::path sourceApp,
    std::filesystem::path originalDataDir)
    : supportDir(std::move(supportDir))
    , appsDir(std::move(appsDir))
    , sourceApp(std::move(sourceApp))
    , originalDataDir(std::move(originalDataDir))
{ }

AppPaths AppPaths::live()
{
    const std::filesystem::path home = XdgFolders::home();
    const std::filesystem::path dataHome = XdgFolders::dataHome();
    const std::filesystem::path configHome = XdgFolders::configHome();
    return AppPaths(
        dataHome / "Korvel", home / "Applications" / "Claude Profiles", ClaudeInstall::find(), configHome / "Claude");
}

std::filesystem::path AppPaths::profilesFile() const
{
    return supportDir / "profiles.json";
}

std::filesystem::path AppPaths::profileDir(const Uuid& id) const
{
    return supportDir / "Profiles" / id.toString();
}

std::filesystem::path AppPaths::dataDir(const Uuid& id) const
{
    return profileDir(id) / "Data";
}

std::filesystem::path AppPaths::claudeCodeConfigDir(const Uuid& id) const
{
    return profileDir(id) / "ClaudeCode";
}

std::filesystem::path AppPaths::appURL(const Profile& profile) const
{
    return appsDir / (profile.appDisplayName() + ".app");
}

} // namespace korvel
