#pragma once

#include "core/model/Profile.hpp"
#include "core/model/Uuid.hpp"

#include <filesystem>

namespace korvel {

// Where everything lives. Pure: never touches the disk.
struct AppPaths
{
    std::filesystem::path supportDir; // profiles.json and every profile's folder
    std::filesystem::path appsDir; // the profile apps
    std::filesystem::path sourceApp; // the installed Claude Desktop: a bundle or a Linux install (ClaudeInstall)
    std::filesystem::path originalDataDir; // Claude Desktop's own data folder

    AppPaths() = default;
    AppPaths(std::filesystem::path supportDir, std::filesystem::path appsDir, std::filesystem::path sourceApp,
        std::filesystem::path originalDataDir);

    // The standard configuration on Linux, read from the environment on every call:
    // $XDG_DATA_HOME/Korvel, ~/Applications/Claude Profiles, ClaudeInstall::find(), $XDG_CONFIG_HOME/Claude.
    // Throws std::runtime_error when no home folder can be found.
    static AppPaths live();

    std::filesystem::path profilesFile() const;
    std::filesystem::path profileDir(const Uuid& id) const;
    std::filesystem::path dataDir(const Uuid& id) const;
    std::filesystem::path claudeCodeConfigDir(const Uuid& id) const;
    std::filesystem::path appURL(const Profile& profile) const;

    friend bool operator==(const AppPaths&, const AppPaths&) = default;
};

} // namespace korvel
