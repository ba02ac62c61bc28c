#pragma once

// Declared here so that the application model can be written against it; implemented in CloneBuilder.cpp.

#include "core/building/CloneStatus.hpp"
#include "core/model/AppPaths.hpp"
#include "core/model/Profile.hpp"
#include "core/model/TaskBarIdentity.hpp"

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// Builds and inspects profile apps. A plain value: everything it knows comes from the disk on each call,
// so it is safe to copy into a background job.
struct CloneBuilder
{
    AppPaths paths;
    std::filesystem::path launcherURL; // the KorvelLauncher to install into every profile app
    // Written into every app built; an app built with another one needs a rebuild.
    TaskBarIdentity taskBarIdentity = TaskBarIdentity::Native;

    CloneBuilder(AppPaths paths, std::filesystem::path launcherURL);

    // Called with a short text before each step of a build ("Copying Claude…"); may be empty.
    using Progress = std::function<void(std::string_view step)>;

    // Builds or rebuilds the profile's app and returns its location, paths.appURL(profile).
    // Throws CloneError, FileError or CommandError.
    std::filesystem::path build(const Profile& profile, const Progress& progress = {}) const;
    // Claude Desktop's installed version, or nothing. Never throws.
    std::optional<std::string> sourceVersion() const;
    // Every profile app in appsDir, grouped by the profile it belongs to. Never throws.
    std::map<Uuid, std::vector<std::filesystem::path>> installedApps() const;
    // Unregisters and deletes every app of the profile. Throws on the first failed deletion.
    void removeInstalledApps(const Uuid& id) const;
    // The health of the profile's app. Never throws.
    CloneStatus status(const Profile& profile) const;
    // Whether the profile's app name can be a file name (file systems take at most 255 bytes).
    static bool appNameFits(const Profile& profile);
    // Deletes hidden bundles that interrupted builds left in appsDir (of any profile, deleted ones included) when
    // they have not changed for `olderThan`: younger ones may belong to a build running now. Never throws.
    void removeLeftovers(std::chrono::seconds olderThan = std::chrono::hours(1)) const;

private:
    void replaceApps(
        const Profile& profile, const std::filesystem::path& staging, const std::filesystem::path& destination) const;
};

} // namespace korvel
