#include "core/model/AppPaths.hpp"

#include <cstdlib>
#include <pwd.h>
#include <stdexcept>
#include <unistd.h>

namespace korvel {
namespace {

std::filesystem::path homeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir && *entry->pw_dir)
        return entry->pw_dir;
    throw std::runtime_error("Korvel can’t find your home folder: HOME is not set.");
}

// An XDG base folder: the variable when it holds an absolute path, else the fallback under home.
std::filesystem::path xdgFolder(const char* variable, const std::filesystem::path& home, const char* fallback)
{
    if (const char* value = std::getenv(variable); value && value[0] == '/')
        return value;
    return home / fallback;
}

} // namespace

AppPaths::AppPaths(std::filesystem::path supportDir, std::filesystem::path appsDir, std::filesystem::path sourceApp,
    std::filesystem::path originalDataDir)
    : supportDir(std::move(supportDir))
    , appsDir(std::move(appsDir))
    , sourceApp(std::move(sourceApp))
    , originalDataDir(std::move(originalDataDir))
{ }

AppPaths AppPaths::live()
{
    const std::filesystem::path home = homeFolder();
    const std::filesystem::path dataHome = xdgFolder("XDG_DATA_HOME", home, ".local/share");
    const std::filesystem::path configHome = xdgFolder("XDG_CONFIG_HOME", home, ".config");
    const char* claude = std::getenv("KORVEL_CLAUDE_APP");
    return AppPaths(dataHome / "Korvel", home / "Applications" / "Claude Profiles",
        claude && *claude ? std::filesystem::path(claude) : std::filesystem::path("/Applications/Claude.app"),
        configHome / "Claude");
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
