#include "core/building/CloneBuilder.hpp"

#include "core/building/CloneError.hpp"
#include "core/building/IcnsFile.hpp"
#include "core/building/IconRenderer.hpp"
#include "core/building/InfoPlistKeys.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "core/building/LauncherHash.hpp"
#include "core/building/ProfileBundleKeys.hpp"
#include "core/support/Directories.hpp"
#include "core/support/FileError.hpp"
#include "core/system/SystemTools.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvel {
namespace {

namespace fs = std::filesystem;

bool itemExists(const fs::path& path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

bool isExecutableFile(const fs::path& path)
{
    struct stat info
    { };
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

void removeTree(const fs::path& path)
{
    std::error_code error;
    fs::remove_all(path, error);
    if (error)
        FileError::throwRemove(path, error.value());
}

fs::path stagingBundle(const AppPaths& paths, const Profile& profile)
{
    return paths.appsDir / (".building-" + profile.id.toString() + ".app");
}

fs::path infoPlist(const fs::path& bundle)
{
    return bundle / "Contents" / "Info.plist";
}

// The icon the desktop shows for a bundle: the largest image of its CFBundleIconFile, else a neutral one.
Bitmap bundleIcon(const fs::path& bundle)
{
    if (auto name = InfoPlistPatcher::readStringValue(infoPlist(bundle), InfoPlistKeys::iconFile)) {
        fs::path file = bundle / "Contents" / "Resources" / *name;
        if (file.extension() != ".icns")
            file += ".icns";
        if (auto image = IcnsFile::largestImageInFile(file))
            return std::move(*image);
    }
    return IconRenderer::placeholderBase();
}

void installLauncher(const fs::path& launcherURL, const fs::path& bundle)
{
    const fs::path target = bundle / "Contents" / "MacOS" / std::string(ProfileBundleKeys::launcherExecutable);
    std::error_code error;
    if (itemExists(target)) {
        fs::remove(target, error);
        if (error)
            FileError::throwRemove(target, error.value());
    }
    fs::copy_file(launcherURL, target, error);
    if (error)
        FileError::throwWrite(target, error.value());
    if (::chmod(target.c_str(), 0755) != 0)
        FileError::throwWrite(target, errno);
}

void touch(const fs::path& path)
{
    ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0);
}

// Runs the steps that assemble the staging bundle; on any failure the staging bundle is deleted and the
// error rethrown, so the previous app stays untouched.
template<typename Steps>
void assembleOrCleanUp(const fs::path& staging, Steps&& steps)
{
    try {
        steps();
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(staging, ignored);
        throw;
    }
}

} // namespace

CloneBuilder::CloneBuilder(AppPaths paths, std::filesystem::path launcherURL)
    : paths(std::move(paths))
    , launcherURL(std::move(launcherURL))
{ }

std::filesystem::path CloneBuilder::build(const Profile& profile, const Progress& progress) const
{
    const auto step = [&progress](std::string_view text) {
        if (progress)
            progress(text);
    };
    if (!itemExists(infoPlist(paths.sourceApp)))
        throw CloneError::sourceMissing(paths.sourceApp);
    if (!isExecutableFile(launcherURL))
        throw CloneError::launcherMissing(launcherURL);

    std::error_code error;
    fs::create_directories(paths.appsDir, error);
    if (error)
        FileError::throwWrite(paths.appsDir, error.value());
    Directories::create(paths.dataDir(profile.id), 0700);

    const fs::path staging = stagingBundle(paths, profile);
    if (itemExists(staging))
        removeTree(staging);

    assembleOrCleanUp(staging, [&] {
        step("Copying Claude…");
        SystemTools::cloneTree(paths.sourceApp, staging);

        step("Writing Info.plist…");
        PlistDictionary plist =
            InfoPlistPatcher::patch(InfoPlistPatcher::read(infoPlist(staging)), profile, paths.dataDir(profile.id));
        if (auto hash = LauncherHash::of(launcherURL))
            plist[std::string(ProfileBundleKeys::launcherHash)] = *hash;
        else
            plist.erase(std::string(ProfileBundleKeys::launcherHash));
        InfoPlistPatcher::write(plist, infoPlist(staging));

        step("Installing the launcher…");
        installLauncher(launcherURL, staging);

        step("Drawing the icon…");
        IconRenderer::writeICNS(bundleIcon(paths.sourceApp), profile.letter(), profile.color.rgb(),
            staging / "Contents" / "Resources" / (std::string(ProfileBundleKeys::iconFileName) + ".icns"));

        step("Signing…");
        SystemTools::removeQuarantine(staging);
        SystemTools::adHocSign(staging);
        SystemTools::verifySignature(staging);
    });

    step("Installing the app…");
    removeInstalledApps(profile.id);
    const fs::path destination = paths.appURL(profile);
    if (itemExists(destination)) {
        SystemTools::unregisterFromLaunchServices(destination);
        removeTree(destination);
    }
    fs::rename(staging, destination, error);
    if (error)
        FileError::throwWrite(destination, error.value());
    touch(destination);
    SystemTools::registerWithLaunchServices(destination);
    return destination;
}

std::optional<std::string> CloneBuilder::sourceVersion() const
{
    return InfoPlistPatcher::readStringValue(infoPlist(paths.sourceApp), InfoPlistKeys::shortVersionString);
}

std::map<Uuid, std::vector<std::filesystem::path>> CloneBuilder::installedApps() const
{
    std::map<Uuid, std::vector<fs::path>> apps;
    std::error_code error;
    fs::directory_iterator entries(paths.appsDir, error);
    if (error)
        return apps;
    for (const fs::directory_entry& entry : entries) {
        const fs::path& bundle = entry.path();
        const std::string name = bundle.filename().string();
        if (bundle.extension() != ".app" || name.starts_with("."))
            continue;
        const auto idText = InfoPlistPatcher::readStringValue(infoPlist(bundle), ProfileBundleKeys::profileID);
        if (!idText)
            continue;
        if (const auto id = Uuid::parse(*idText))
            apps[*id].push_back(bundle);
    }
    return apps;
}

void CloneBuilder::removeInstalledApps(const Uuid& id) const
{
    const auto apps = installedApps();
    const auto it = apps.find(id);
    if (it == apps.end())
        return;
    for (const fs::path& bundle : it->second) {
        SystemTools::unregisterFromLaunchServices(bundle);
        removeTree(bundle);
    }
}

CloneStatus CloneBuilder::status(const Profile& profile) const
{
    const fs::path app = paths.appURL(profile);
    const std::optional<std::string> source = sourceVersion();
    if (!itemExists(app)) {
        if (!source)
            return CloneStatus::sourceMissing();
        if (installedApps().contains(profile.id))
            return CloneStatus::damaged("profile was renamed");
        return CloneStatus::notBuilt();
    }

    PlistDictionary plist;
    try {
        plist = InfoPlistPatcher::read(infoPlist(app));
    } catch (...) {
        return CloneStatus::damaged("Info.plist unreadable");
    }
    const auto matches = [&plist](std::string_view key, const std::string& expected) {
        return InfoPlistPatcher::stringValue(plist, key) == expected;
    };

    if (!matches(InfoPlistKeys::bundleIdentifier, profile.bundleIdentifier()) ||
        !matches(ProfileBundleKeys::profileID, profile.id.toString()))
        return CloneStatus::damaged("belongs to another profile");
    if (!matches(InfoPlistKeys::executable, std::string(ProfileBundleKeys::launcherExecutable)) ||
        !isExecutableFile(app / "Contents" / "MacOS" / std::string(ProfileBundleKeys::launcherExecutable)))
        return CloneStatus::damaged("launcher missing (was it auto-updated?)");
    if (const auto hash = LauncherHash::of(launcherURL); hash && !matches(ProfileBundleKeys::launcherHash, *hash))
        return CloneStatus::damaged("launcher outdated");
    if (!matches(ProfileBundleKeys::userDataDir, paths.dataDir(profile.id).string()))
        return CloneStatus::damaged("data folder mismatch");
    if (plist.contains(InfoPlistKeys::urlTypes))
        return CloneStatus::damaged("claims claude:// links");
    if (!matches(InfoPlistKeys::displayName, profile.appDisplayName()))
        return CloneStatus::damaged("name changed");
    if (!matches(ProfileBundleKeys::appearance, InfoPlistPatcher::appearance(profile)))
        return CloneStatus::damaged("color changed");

    const std::string installed =
        InfoPlistPatcher::stringValue(plist, ProfileBundleKeys::sourceVersion).value_or("unknown");
    if (!source || *source == installed)
        return CloneStatus::ready(installed);
    return CloneStatus::outdated(installed, *source);
}

} // namespace korvel
