#include "core/building/CloneBuilder.hpp"

#include "core/building/CloneError.hpp"
#include "core/building/DesktopRegistration.hpp"
#include "core/building/IcnsFile.hpp"
#include "core/building/IconFile.hpp"
#include "core/building/IconRenderer.hpp"
#include "core/building/InfoPlistKeys.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "core/building/LauncherHash.hpp"
#include "core/building/ProfileBundleKeys.hpp"
#include "core/model/ClaudeInstall.hpp"
#include "core/model/ClaudeVersion.hpp"
#include "core/support/AtomicFile.hpp"
#include "core/support/DesktopEntry.hpp"
#include "core/support/Directories.hpp"
#include "core/support/FileChecks.hpp"
#include "core/support/FileError.hpp"
#include "core/support/Sha256.hpp"
#include "core/system/AsarArchive.hpp"
#include "core/system/DpkgDatabase.hpp"
#include "core/system/InstalledApplications.hpp"
#include "core/system/SystemTools.hpp"

#include <fcntl.h>
#include <limits.h>
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

void removeTree(const fs::path& path)
{
    std::error_code error;
    fs::remove_all(path, error);
    if (error)
        FileError::throwRemove(path, error.value());
}

constexpr std::string_view stagingPrefix = ".building-";
constexpr std::string_view replacedPrefix = ".replaced-";

fs::path stagingBundle(const AppPaths& paths, const Profile& profile)
{
    return paths.appsDir / (std::string(stagingPrefix) + profile.id.toString() + ".app");
}

fs::path infoPlist(const fs::path& bundle)
{
    return bundle / "Contents" / "Info.plist";
}

fs::path linkedExecutable(const fs::path& bundle)
{
    return bundle / "Contents" / "MacOS" / std::string(ClaudeDesktop::executableName);
}

// The image file the desktop shows for a bundle: its CFBundleIconFile .icns.
std::optional<fs::path> bundleIconFile(const fs::path& bundle)
{
    const auto name = InfoPlistPatcher::readStringValue(infoPlist(bundle), InfoPlistKeys::iconFile);
    if (!name)
        return std::nullopt;
    fs::path file = bundle / "Contents" / "Resources" / *name;
    if (file.extension() != ".icns")
        file += ".icns";
    return file;
}

// The image file menus show for a Linux install: the one its desktop entry names, at the largest size the icon theme
// has.
std::optional<fs::path> installIconFile(const ClaudeInstall& install)
{
    const auto entry = InstalledApplications::desktopEntryFor(
        install.executable, std::string(ClaudeInstall::linuxProgram) + ".desktop");
    std::optional<std::string> name;
    try {
        if (entry)
            name = DesktopEntry::read(*entry).value("Icon");
    } catch (const std::exception&) {
        // an unreadable entry names no icon
    }
    return InstalledApplications::largestIcon(name.value_or(ClaudeInstall::linuxProgram));
}

std::optional<fs::path> sourceIconFile(const ClaudeInstall& install)
{
    return install.kind == ClaudeInstall::Kind::Bundle ? bundleIconFile(install.location) : installIconFile(install);
}

// The base of every profile icon: the source's icon file drawn large, else a neutral one.
Bitmap baseIcon(const ClaudeInstall& install, const std::optional<fs::path>& file)
{
    std::optional<Bitmap> image;
    if (file)
        image = install.kind == ClaudeInstall::Kind::Bundle ? IcnsFile::largestImageInFile(*file)
                                                            : IconFile::load(*file, IconRenderer::baseSize);
    return image ? std::move(*image) : IconRenderer::placeholderBase();
}

// Where a profile app records what its icon was drawn from, so that a rebuild that changes none of it (a new
// version of Claude) takes the icon over instead of drawing it again.
constexpr std::string_view iconSourceKey = "KVLIconSource";

// The letter, the colour and the source icon's content, as one digest; the first line names the drawing, so that
// a change of how icons are drawn makes every app draw its own again.
std::string iconSource(const Profile& profile, const std::optional<fs::path>& file)
{
    const Rgb color = profile.color.rgb();
    const auto content = file ? Sha256::hexOfFile(*file) : std::nullopt;
    return Sha256::hexOf("badge icon 1\n" + profile.letter() + "\n" + std::to_string(color.red) + " " +
        std::to_string(color.green) + " " + std::to_string(color.blue) + "\n" + content.value_or("placeholder"));
}

fs::path profileIcon(const fs::path& bundle)
{
    return bundle / "Contents" / "Resources" / (std::string(ProfileBundleKeys::iconFileName) + ".icns");
}

// Copies the icon of an app in `apps` drawn from the same source into the staging bundle; false when none was.
bool reuseIcon(const std::vector<fs::path>& apps, const std::string& source, const fs::path& staging)
{
    for (const fs::path& app : apps) {
        if (InfoPlistPatcher::readStringValue(infoPlist(app), iconSourceKey) != source)
            continue;
        std::error_code error;
        if (FileChecks::isRegularFile(profileIcon(app)) && IcnsFile::holdsEverySize(profileIcon(app)) &&
            fs::copy_file(profileIcon(app), profileIcon(staging), fs::copy_options::overwrite_existing, error))
            return true;
    }
    return false;
}

// What a Linux install would say of itself if it were a bundle: the Info.plist a profile app is patched from.
PlistDictionary linuxInstallInfo(const std::optional<std::string>& version)
{
    PlistDictionary plist;
    plist[std::string(InfoPlistKeys::bundleIdentifier)] = std::string(ClaudeDesktop::bundleIdentifier);
    plist[std::string(InfoPlistKeys::bundleName)] = std::string("Claude");
    plist[std::string(InfoPlistKeys::executable)] = std::string(ClaudeDesktop::executableName);
    plist["CFBundlePackageType"] = std::string("APPL");
    plist["CFBundleInfoDictionaryVersion"] = std::string("6.0");
    if (version)
        plist[std::string(InfoPlistKeys::shortVersionString)] = *version;
    return plist;
}

// A profile app of a Linux install holds no copy of Claude: Contents/MacOS/Claude is a link to the installed
// program, which then runs from its own place (its sandbox helper and AppArmor profile intact).
void linkInstall(const ClaudeInstall& install, const std::optional<std::string>& version, const fs::path& staging)
{
    const fs::path macos = staging / "Contents" / "MacOS";
    Directories::create(macos, 0755);
    Directories::create(staging / "Contents" / "Resources", 0755);
    std::error_code error;
    fs::create_symlink(install.executable, linkedExecutable(staging), error);
    if (error)
        FileError::throwWrite(linkedExecutable(staging), error.value());
    InfoPlistPatcher::write(linuxInstallInfo(version), infoPlist(staging));
}

// The version of a Linux install: what dpkg recorded when the package installed it, else the package.json of its
// app.asar, else "unknown" (installed, but of no known version).
std::string linuxInstallVersion(const ClaudeInstall& install)
{
    if (auto version = DpkgDatabase::versionOwning(ClaudeInstall::linuxProgram, install.executable))
        return ClaudeVersion::checked(*version, "dpkg’s record").value_or("unknown");
    const fs::path archive = install.location / "resources" / "app.asar";
    if (auto version = AsarArchive::packageVersion(archive))
        return ClaudeVersion::checked(*version, archive.string()).value_or("unknown");
    return "unknown";
}

// The installed version of `install`, or nothing when there is no install or a bundle names none.
std::optional<std::string> versionOf(const std::optional<ClaudeInstall>& install)
{
    if (!install)
        return std::nullopt;
    if (install->kind == ClaudeInstall::Kind::Linux)
        return linuxInstallVersion(*install);
    const auto version =
        InfoPlistPatcher::readStringValue(infoPlist(install->location), InfoPlistKeys::shortVersionString);
    return version ? ClaudeVersion::checked(*version, infoPlist(install->location).string()).value_or("unknown")
                   : version;
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
    // The Wayland relay ships beside the launcher and goes with it; a build without one leaves it out.
    const std::string relayName(TaskBarIdentities::relayExecutable);
    const fs::path relay = launcherURL.parent_path() / relayName;
    if (FileChecks::isExecutableFile(relay)) {
        const fs::path relayTarget = target.parent_path() / relayName;
        fs::copy_file(relay, relayTarget, fs::copy_options::overwrite_existing, error);
        if (error || ::chmod(relayTarget.c_str(), 0755) != 0)
            FileError::throwWrite(relayTarget, error ? error.value() : errno);
    }
}

// LaunchServices on Linux is our own desktop entry of the app: written here when the tool table names Korvel's own
// lsregister, else by the tool. Best effort either way.
void registerApp(const fs::path& bundle)
{
    if (!SystemTools::isOwnHelper(SystemTools::toolPaths().lsregister))
        return SystemTools::registerWithLaunchServices(bundle);
    try {
        DesktopRegistration::registerBundle(bundle);
    } catch (const std::exception&) {
        // best effort, as with the tool: an app without an entry still runs
    }
}

void unregisterApp(const fs::path& bundle)
{
    if (!SystemTools::isOwnHelper(SystemTools::toolPaths().lsregister))
        return SystemTools::unregisterFromLaunchServices(bundle);
    try {
        DesktopRegistration::unregisterBundle(bundle);
    } catch (const std::exception&) {
        // best effort, as with the tool
    }
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
    // Resolved at the top: a source reached through a link is read where it really is, and nothing built from it
    // can lead back into it.
    const std::optional<ClaudeInstall> source = ClaudeInstall::at(paths.sourceApp);
    if (!source)
        throw CloneError::sourceMissing(paths.sourceApp);
    if (!FileChecks::isExecutableFile(launcherURL))
        throw CloneError::launcherMissing(launcherURL);
    const fs::path destination = paths.appURL(profile);
    if (!appNameFits(profile))
        throw FileError(FileError::Kind::WriteUnknown, destination, ENAMETOOLONG, "the app’s name is too long");

    std::error_code error;
    fs::create_directories(paths.appsDir, error);
    if (error)
        FileError::throwWrite(paths.appsDir, error.value());
    Directories::create(paths.dataDir(profile.id), 0700);

    const fs::path staging = stagingBundle(paths, profile);
    if (itemExists(staging))
        removeTree(staging);

    assembleOrCleanUp(staging, [&] {
        if (source->kind == ClaudeInstall::Kind::Bundle) {
            step("Copying Claude…");
            SystemTools::cloneTree(source->location, staging);
        } else {
            step("Linking Claude…");
            linkInstall(*source, linuxInstallVersion(*source), staging);
        }

        step("Writing Info.plist…");
        PlistDictionary plist =
            InfoPlistPatcher::patch(InfoPlistPatcher::read(infoPlist(staging)), profile, paths.dataDir(profile.id));
        if (auto hash = LauncherHash::of(launcherURL))
            plist[std::string(ProfileBundleKeys::launcherHash)] = *hash;
        else
            plist.erase(std::string(ProfileBundleKeys::launcherHash));
        plist[std::string(ProfileBundleKeys::taskBarIdentity)] =
            std::string(TaskBarIdentities::rawValue(taskBarIdentity));
        const auto iconFile = sourceIconFile(*source);
        const std::string drawnFrom = iconSource(profile, iconFile);
        plist[std::string(iconSourceKey)] = drawnFrom;
        InfoPlistPatcher::write(plist, infoPlist(staging));

        step("Installing the launcher…");
        installLauncher(launcherURL, staging);

        step("Drawing the icon…");
        std::vector<fs::path> apps = installedApps()[profile.id];
        apps.push_back(destination);
        if (!reuseIcon(apps, drawnFrom, staging))
            IconRenderer::writeICNS(
                baseIcon(*source, iconFile), profile.letter(), profile.color.rgb(), profileIcon(staging));

        step("Signing…");
        SystemTools::removeQuarantine(staging);
        SystemTools::adHocSign(staging);
        SystemTools::verifySignature(staging);
    });

    step("Installing the app…");
    replaceApps(profile, staging, destination);
    touch(destination);
    registerApp(destination);
    return destination;
}

void CloneBuilder::replaceApps(const Profile& profile, const fs::path& staging, const fs::path& destination) const
{
    // The old apps are moved aside and removed only once the new one is in place: an interruption leaves either
    // the old app or the new one, never none or half of one (hidden leftovers go at the next start).
    std::vector<std::pair<fs::path, fs::path>> aside;
    const auto moveAside = [&](const fs::path& bundle) {
        unregisterApp(bundle);
        const fs::path parked = paths.appsDir /
            (std::string(replacedPrefix) + profile.id.toString() + "-" + std::to_string(aside.size()) + ".app");
        if (itemExists(parked))
            removeTree(parked);
        std::error_code error;
        fs::rename(bundle, parked, error);
        if (error)
            FileError::throwRemove(bundle, error.value());
        aside.emplace_back(bundle, parked);
    };
    const auto putBack = [&aside] {
        for (const auto& [bundle, parked] : aside) {
            std::error_code error;
            fs::rename(parked, bundle, error);
            if (!error)
                registerApp(bundle);
        }
    };
    try {
        if (const auto apps = installedApps(); apps.contains(profile.id))
            for (const fs::path& bundle : apps.at(profile.id))
                moveAside(bundle);
        if (itemExists(destination))
            moveAside(destination);
        std::error_code error;
        fs::rename(staging, destination, error);
        if (error)
            FileError::throwWrite(destination, error.value());
    } catch (...) {
        putBack();
        throw;
    }
    for (const auto& [bundle, parked] : aside) {
        std::error_code ignored;
        fs::remove_all(parked, ignored); // a failure leaves a hidden leftover, removed at the next start
    }
}

void CloneBuilder::removeLeftovers(std::chrono::seconds olderThan) const
{
    std::error_code error;
    const auto now = fs::file_time_type::clock::now();
    for (const fs::directory_entry& entry : fs::directory_iterator(paths.appsDir, error)) {
        const std::string name = entry.path().filename().string();
        if (!(name.starts_with(stagingPrefix) || name.starts_with(replacedPrefix)) || !name.ends_with(".app"))
            continue;
        std::error_code ignored;
        // A build running in another Korvel process right now keeps its staging bundle fresh.
        if (now - fs::last_write_time(entry.path(), ignored) >= olderThan)
            fs::remove_all(entry.path(), ignored);
    }
}

bool CloneBuilder::appNameFits(const Profile& profile)
{
    return profile.appDisplayName().size() + 4 <= NAME_MAX; // "Claude <name>.app", and .building-… is shorter
}

std::optional<std::string> CloneBuilder::sourceVersion() const
{
    return versionOf(ClaudeInstall::at(paths.sourceApp));
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
        unregisterApp(bundle);
        removeTree(bundle);
    }
}

CloneStatus CloneBuilder::status(const Profile& profile) const
{
    const fs::path app = paths.appURL(profile);
    const std::optional<ClaudeInstall> install = ClaudeInstall::at(paths.sourceApp);
    const std::optional<std::string> source = versionOf(install);
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
        !FileChecks::isExecutableFile(app / "Contents" / "MacOS" / std::string(ProfileBundleKeys::launcherExecutable)))
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
    const std::string identity = InfoPlistPatcher::stringValue(plist, ProfileBundleKeys::taskBarIdentity)
                                     .value_or(std::string(TaskBarIdentities::native));
    if (identity != TaskBarIdentities::rawValue(taskBarIdentity))
        return CloneStatus::damaged("task bar setting changed");

    const auto linkedTo = FileChecks::linkTarget(linkedExecutable(app));
    if (install && install->kind == ClaudeInstall::Kind::Linux && linkedTo != install->executable)
        return CloneStatus::damaged("linked to another Claude Desktop");
    // A linked app cannot run without the Claude it starts, unlike a clone, which carries its own copy.
    if (!source && linkedTo && !FileChecks::isExecutableFile(linkedExecutable(app)))
        return CloneStatus::sourceMissing();

    const auto recorded = InfoPlistPatcher::stringValue(plist, ProfileBundleKeys::sourceVersion);
    const std::string installed =
        recorded ? ClaudeVersion::checked(*recorded, infoPlist(app).string()).value_or("unknown") : "unknown";
    if (!source || *source == installed)
        return CloneStatus::ready(installed);
    return CloneStatus::outdated(installed, *source);
}

} // namespace korvel
