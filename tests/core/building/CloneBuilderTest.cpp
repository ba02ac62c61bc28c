#include "core/building/CloneBuilder.hpp"
#include "core/building/CloneError.hpp"
#include "core/building/CloneStatus.hpp"
#include "core/building/DesktopRegistration.hpp"
#include "core/building/IcnsFile.hpp"
#include "core/building/IconRenderer.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "core/support/DesktopEntry.hpp"
#include "core/support/FileError.hpp"
#include "core/support/Sha256.hpp"
#include "core/system/CommandError.hpp"
#include "core/system/SystemTools.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/DrawingCacheCleanup.hpp"
#include "tests/support/ScopedEnvironment.hpp"
#include "tests/support/SolidBitmap.hpp"
#include "tests/support/StandInClaude.hpp"
#include "tests/support/StandInLinuxClaude.hpp"
#include "tests/support/StandInRecord.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Thrown.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <map>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

namespace {

[[maybe_unused]] const auto* const drawingCaches =
    ::testing::AddGlobalTestEnvironment(new korvel::test::DrawingCacheCleanup);

const fs::path builtLauncher = fs::path(KORVEL_BINARY_DIR) / "Korvel.app/Contents/MacOS/KorvelLauncher";

class CloneBuilderTest : public ::testing::Test
{
protected:
    CloneBuilderTest()
        : paths(dir / "support", dir / "Applications/Claude Profiles", dir / "Applications/Claude.app",
              dir / "config/Claude")
        , builder(paths, dir / "Korvel.app/Contents/MacOS/KorvelLauncher")
    {
        StandInClaude::create(dir / "Applications");
        fs::create_directories(builder.launcherURL.parent_path());
        fs::copy_file(builtLauncher, builder.launcherURL);
        env.set("XDG_DATA_HOME", (dir / "data").string());
        env.set("HOME", dir.path().string());
    }

    Profile profile(std::string name, ProfileColor color = ProfileColor::Orange)
    {
        return Profile {Uuid::random(), std::move(name), color, Timestamp::now()};
    }
    fs::path staging(const Profile& profile) { return paths.appsDir / (".building-" + profile.id.toString() + ".app"); }
    // Claude Desktop installed for Linux under dir/root as the apps' source, seen by the desktop and dpkg; the root.
    fs::path useLinuxInstall()
    {
        const fs::path root = dir / "root";
        StandInLinuxClaude::create(root, "1.46388.2");
        env.set("KORVEL_DPKG_ADMINDIR", StandInLinuxClaude::adminDir(root).string());
        env.set("XDG_DATA_DIRS", (root / "usr/share").string());
        paths.sourceApp = StandInLinuxClaude::installFolder(root);
        return root;
    }

    TempDir dir;
    ScopedEnvironment env;
    AppPaths paths;
    CloneBuilder builder;
};

} // namespace

TEST_F(CloneBuilderTest, BuildsACompleteProfileApp)
{
    const Profile work = profile("Work", ProfileColor::Teal);
    const fs::path app = builder.build(work);
    EXPECT_EQ(app, paths.appsDir / "Claude Work.app");

    // The source's Info.plist patched for the profile, plus the hash of the launcher copied in and the task-bar
    // setting it was built for.
    PlistDictionary expected = InfoPlistPatcher::patch(
        InfoPlistPatcher::read(paths.sourceApp / "Contents/Info.plist"), work, paths.dataDir(work.id));
    expected["KVLLauncherHash"] = Sha256::hexOfFile(builtLauncher).value();
    expected["KVLTaskBarIdentity"] = "native";
    PlistDictionary built = InfoPlistPatcher::read(app / "Contents/Info.plist");
    EXPECT_EQ(InfoPlistPatcher::stringValue(built, "KVLIconSource").value_or("").size(), 64u) << "the icon's source";
    built.erase("KVLIconSource");
    EXPECT_EQ(built, expected);

    EXPECT_EQ(modeOf(app / "Contents/MacOS/KorvelLauncher"), 0755u);
    EXPECT_TRUE(fs::exists(app / "Contents/MacOS/Claude"));
    EXPECT_TRUE(fs::is_symlink(app / "Contents/Frameworks/Electron Framework.framework/Versions/Current"));
    EXPECT_EQ(modeOf(paths.dataDir(work.id)), 0700u);
    EXPECT_EQ(modeOf(paths.profileDir(work.id)), 0700u);
    EXPECT_FALSE(fs::exists(staging(work)));

    // The seal verifies with the real helper, and the icon holds all seven sizes.
    EXPECT_NO_THROW(SystemTools::verifySignature(app));
    const auto icons = IcnsFile::decodeAll(readText(app / "Contents/Resources/ProfileIcon.icns"));
    ASSERT_EQ(icons.size(), 7u);
    EXPECT_EQ(icons.back().width(), 1024);
    EXPECT_EQ(builder.status(work), CloneStatus::ready("1.2.3"));
    EXPECT_EQ(builder.installedApps().at(work.id), std::vector<fs::path> {app});
}

TEST_F(CloneBuilderTest, RebuildRenameAndLeftovers)
{
    Profile work = profile("Work");
    const fs::path first = builder.build(work);
    writeText(first / "Contents/Resources/marker", "old build");
    ::chmod(paths.dataDir(work.id).c_str(), 0755);

    // Rebuild in place: same place, fresh contents, the existing data folder as it is.
    EXPECT_EQ(builder.build(work), first);
    EXPECT_FALSE(fs::exists(first / "Contents/Resources/marker"));
    EXPECT_EQ(modeOf(paths.dataDir(work.id)), 0755u);

    // A leftover staging bundle from an interrupted build does not get in the way.
    writeText(staging(work) / "Contents/junk", "x");
    // Renamed: the app under the old name is found through its profile ID and removed.
    work.name = "Home";
    EXPECT_EQ(builder.status(work), CloneStatus::damaged("profile was renamed"));
    const fs::path renamed = builder.build(work);
    EXPECT_EQ(renamed.filename(), "Claude Home.app");
    EXPECT_FALSE(fs::exists(first));
    EXPECT_FALSE(fs::exists(staging(work)));
    EXPECT_EQ(builder.installedApps().at(work.id), std::vector<fs::path> {renamed});
}

TEST_F(CloneBuilderTest, FailedSigningLeavesThePreviousAppAndNoStaging)
{
    const Profile work = profile("Work");
    const fs::path app = builder.build(work);
    const std::string before = readText(app / "Contents/Info.plist");

    // Stand-in system tools whose `codesign` complains and fails.
    writeExecutable(dir / "tools/codesign", "#!/bin/sh\necho \"$5: code object is not signed at all\" >&2\nexit 1\n");
    writeExecutable(dir / "tools/xattr", "#!/bin/sh\n");
    env.set("KORVEL_TOOLS_DIR", (dir / "tools").string());
    Profile recoloured = work;
    recoloured.color = ProfileColor::Red;
    const std::string message = thrown<CommandError>([&] { builder.build(recoloured); }).what();
    EXPECT_NE(message.find("codesign --force --deep --sign -"), std::string::npos) << message;
    EXPECT_NE(message.find("code object is not signed at all"), std::string::npos) << message;
    EXPECT_FALSE(fs::exists(staging(work)));
    EXPECT_EQ(readText(app / "Contents/Info.plist"), before);
    EXPECT_EQ(builder.status(work), CloneStatus::ready("1.2.3"));
}

TEST_F(CloneBuilderTest, PreconditionsFailBeforeAnythingIsCreated)
{
    const Profile work = profile("Work");
    const CloneBuilder noLauncher(paths, dir / "missing/KorvelLauncher");
    EXPECT_EQ(thrown<CloneError>([&] { noLauncher.build(work); }).kind(), CloneError::Kind::LauncherMissing);
    fs::permissions(builder.launcherURL, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(thrown<CloneError>([&] { builder.build(work); }).kind(), CloneError::Kind::LauncherMissing)
        << "a launcher that is not executable counts as missing";
    fs::remove_all(paths.sourceApp);
    EXPECT_EQ(thrown<CloneError>([&] { builder.build(work); }).kind(), CloneError::Kind::SourceMissing);
    EXPECT_FALSE(fs::exists(paths.appsDir));
    EXPECT_FALSE(fs::exists(paths.supportDir));

    ScopedEnvironment env("KORVEL_CLAUDE_APP", std::nullopt);
    env.set("PATH", "/nowhere");
    EXPECT_STREQ(CloneError::sourceMissing("/usr/lib/claude-desktop").what(),
        "Claude Desktop wasn’t found in /usr/lib/claude-desktop, claude-desktop on your PATH or "
        "/Applications/Claude.app. Install it from https://claude.ai/download first.")
        << "where Korvel searched, every place is named";
    env.set("KORVEL_CLAUDE_APP", "/opt/Claude.app");
    EXPECT_STREQ(CloneError::sourceMissing("/opt/Claude.app").what(),
        "Claude Desktop wasn’t found at /opt/Claude.app. Install it from https://claude.ai/download first.");
    EXPECT_STREQ(CloneError::launcherMissing("/K.app/Contents/MacOS/KorvelLauncher").what(),
        "The profile launcher is missing from Korvel (/K.app/Contents/MacOS/KorvelLauncher). Reinstall the "
        "app.");
}

TEST_F(CloneBuilderTest, InstalledAppsIgnoresWhatIsNotAProfileApp)
{
    EXPECT_TRUE(builder.installedApps().empty()) << "no apps folder yet";
    const Profile work = profile("Work");
    const fs::path app = builder.build(work);
    const auto copy = [&](const fs::path& from, const std::string& name) {
        fs::copy(from, paths.appsDir / name, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        return paths.appsDir / name;
    };
    copy(app, ".Hidden.app");
    copy(app, "Capital.App");
    writeText(copy(app, "Broken.app") / "Contents/Info.plist", "not a plist");
    copy(paths.sourceApp, "Claude.app");
    const fs::path duplicate = copy(app, "Duplicate.app");

    auto apps = builder.installedApps();
    ASSERT_EQ(apps.size(), 1u);
    std::sort(apps[work.id].begin(), apps[work.id].end());
    EXPECT_EQ(apps[work.id], (std::vector<fs::path> {app, duplicate}));

    builder.removeInstalledApps(work.id);
    EXPECT_FALSE(fs::exists(app) || fs::exists(duplicate));
    EXPECT_TRUE(fs::exists(paths.appsDir / "Claude.app"));
    EXPECT_TRUE(builder.installedApps().empty());
}

TEST_F(CloneBuilderTest, StatusReportsEveryRealChangeOnDisk)
{
    const Profile work = profile("Work");
    EXPECT_EQ(builder.status(work), CloneStatus::notBuilt());
    const fs::path app = builder.build(work);
    const fs::path plistFile = app / "Contents/Info.plist";
    const std::string good = readText(plistFile);
    const auto damagedBy = [&](auto change) {
        change();
        const CloneStatus status = builder.status(work);
        writeText(plistFile, good);
        return status.kind() == CloneStatus::Kind::Damaged ? status.reason() : status.summary();
    };
    for (const auto& [key, value, reason] : std::vector<std::tuple<std::string, std::string, std::string>> {
             {"KVLProfileID", Uuid::random().toString(), "belongs to another profile"},
             {"CFBundleExecutable", "Claude", "launcher missing (was it auto-updated?)"},
             {"KVLLauncherHash", std::string(64, '0'), "launcher outdated"},
             {"KVLUserDataDir", "/tmp/other", "data folder mismatch"},
             {"CFBundleDisplayName", "Claude Wörk", "name changed"},
             {"KVLTaskBarIdentity", "xwayland", "task bar setting changed"}})
        EXPECT_EQ(damagedBy([&] { StandInClaude::setInfo(app, key, value); }), reason) << key;
    EXPECT_EQ(damagedBy([&] {
        fs::copy_file(paths.sourceApp / "Contents/Info.plist", plistFile, fs::copy_options::overwrite_existing);
    }),
        "belongs to another profile");
    EXPECT_EQ(damagedBy([&] { writeText(plistFile, "garbage"); }), "Info.plist unreadable");
    EXPECT_EQ(damagedBy([&] { StandInClaude::setInfo(app, "CFBundleURLTypes", 1); }), "claims claude:// links");
    EXPECT_EQ(damagedBy([&] { StandInClaude::setInfo(app, "KVLAppearance", std::nullopt); }), "color changed");
    EXPECT_EQ(builder.status(work), CloneStatus::ready("1.2.3"));

    // The task-bar setting changed after the build; an app from before the setting reads as native.
    CloneBuilder throughXWayland = builder;
    throughXWayland.taskBarIdentity = TaskBarIdentity::XWayland;
    EXPECT_EQ(throughXWayland.status(work), CloneStatus::damaged("task bar setting changed"));
    throughXWayland.build(work);
    EXPECT_EQ(InfoPlistPatcher::readStringValue(plistFile, "KVLTaskBarIdentity"), "xwayland");
    EXPECT_EQ(throughXWayland.status(work).kind(), CloneStatus::Kind::Ready);
    StandInClaude::setInfo(app, "KVLTaskBarIdentity", std::nullopt);
    EXPECT_EQ(builder.status(work).kind(), CloneStatus::Kind::Ready);

    // The launcher deleted from the app, then an older launcher.
    fs::remove(app / "Contents/MacOS/KorvelLauncher");
    EXPECT_EQ(builder.status(work), CloneStatus::damaged("launcher missing (was it auto-updated?)"));
    builder.build(work);
    writeText(builder.launcherURL, readText(builtLauncher) + "newer build");
    EXPECT_EQ(builder.status(work), CloneStatus::damaged("launcher outdated"));
    // The Wayland relay beside the launcher goes into the app with it: a new one outdates the app as well.
    builder.build(work);
    const fs::path relay = builder.launcherURL.parent_path() / "KorvelRelay";
    for (const std::string_view contents : {"#!/bin/sh\n", "#!/bin/sh\n# newer build\n"}) {
        writeExecutable(relay, contents);
        EXPECT_EQ(builder.status(work), CloneStatus::damaged("launcher outdated")) << contents;
        builder.build(work);
        EXPECT_EQ(builder.status(work).kind(), CloneStatus::Kind::Ready) << contents;
    }
    // An unreadable launcher skips the comparison (simulated by removing it: it cannot be read).
    fs::remove(builder.launcherURL);
    EXPECT_EQ(builder.status(work), CloneStatus::ready("1.2.3"));

    Profile recoloured = work;
    recoloured.color = ProfileColor::Teal;
    EXPECT_EQ(builder.status(recoloured), CloneStatus::damaged("color changed"));
}

TEST_F(CloneBuilderTest, StatusFollowsClaudeUpdatesAndRemoval)
{
    const Profile work = profile("Work");
    builder.build(work);
    StandInClaude::setInfo(paths.sourceApp, "CFBundleShortVersionString", "1.3.0");
    EXPECT_EQ(builder.status(work), CloneStatus::outdated("1.2.3", "1.3.0"));

    fs::remove_all(paths.sourceApp);
    EXPECT_EQ(builder.sourceVersion(), std::nullopt);
    EXPECT_EQ(builder.status(work), CloneStatus::ready("1.2.3"));
    EXPECT_EQ(builder.status(profile("Never built")), CloneStatus::sourceMissing());
}

TEST_F(CloneBuilderTest, SameAppNameReplacesTheOtherProfilesApp)
{
    const Profile slash = profile("a/b");
    const Profile colon = profile("a:b");
    builder.build(slash);
    builder.build(colon);
    EXPECT_EQ(builder.status(colon), CloneStatus::ready("1.2.3"));
    EXPECT_EQ(builder.status(slash), CloneStatus::damaged("belongs to another profile"));
}

TEST(CloneStatus, SummariesAndNeedsBuild)
{
    const ScopedEnvironment claude("KORVEL_CLAUDE_APP", "/opt/Claude.app");
    for (const auto& [status, summary, needsBuild] : std::vector<std::tuple<CloneStatus, std::string, bool>> {
             {CloneStatus::ready("1.2.3"), "Ready · Claude 1.2.3", false},
             {CloneStatus::outdated("1.2.3", "1.3.0"), "Update available (1.2.3 → 1.3.0)", true},
             {CloneStatus::damaged("profile was renamed"), "Needs rebuild: profile was renamed", true},
             {CloneStatus::sourceMissing(), "Claude Desktop not found in /opt/Claude.app", false},
             {CloneStatus::notBuilt(), "App not created yet", true}}) {
        EXPECT_EQ(status.summary(), summary);
        EXPECT_EQ(status.needsBuild(), needsBuild) << summary;
    }
    EXPECT_NE(CloneStatus::outdated("1", "2"), CloneStatus::outdated("1", "3"));
}

TEST_F(CloneBuilderTest, AnAppIsReplacedWholeOrNotAtAllAndLeftoversGoLater)
{
    Profile work = profile("Work");
    const fs::path old = builder.build(work);
    work.name = std::string(250, 'w'); // "Claude www….app" cannot be a file name
    EXPECT_THROW(builder.build(work), FileError);
    EXPECT_TRUE(fs::exists(old / "Contents/Info.plist")) << "the old app stays when the new one cannot take its place";
    EXPECT_FALSE(fs::exists(staging(work)));

    const fs::path fresh = paths.appsDir / ".building-0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D.app";
    const fs::path stale = paths.appsDir / ".replaced-0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D-0.app";
    fs::create_directories(fresh / "Contents");
    fs::create_directories(stale / "Contents");
    fs::last_write_time(stale, fs::file_time_type::clock::now() - std::chrono::hours(2));
    builder.removeLeftovers();
    EXPECT_TRUE(fs::exists(fresh)) << "a build running elsewhere keeps its staging bundle";
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(old));
}

TEST_F(CloneBuilderTest, ALinuxInstallGetsLinkedAppsThatFollowItsUpgradesAndRemoval)
{
    const fs::path root = dir / "root";
    // The package's program a link to the binary beside it: the app must link to that binary, as /proc shows it.
    const fs::path electron = StandInLinuxClaude::installFolder(root) / "electron";
    fs::create_directories(electron.parent_path());
    fs::copy_file(StandInClaude::executable(paths.sourceApp), electron);
    StandInLinuxClaude::create(root, "1.46388.2", electron);
    env.set("KORVEL_DPKG_ADMINDIR", StandInLinuxClaude::adminDir(root).string());
    env.set("XDG_DATA_DIRS", (root / "usr/share").string());
    paths.sourceApp = root / "usr/bin/claude-desktop"; // a link, as PATH finds it
    const CloneBuilder linux(paths, builder.launcherURL);
    const auto before = describeTree(root);

    const Profile work = profile("Work");
    const fs::path app = linux.build(work);
    EXPECT_EQ(fs::read_symlink(app / "Contents/MacOS/Claude"), fs::canonical(electron));
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(app), {}), 9) << "no copy of Claude in the app";
#ifndef __SANITIZE_ADDRESS__ // a sanitizer's instrumentation makes the launcher several times larger
    std::uintmax_t bytes = 0;
    for (const auto& item : fs::recursive_directory_iterator(app))
        bytes += fs::is_regular_file(item.symlink_status()) ? item.file_size() : 0;
    EXPECT_LT(bytes, 512u * 1024) << "a few hundred kilobytes: its own launcher, icon, Info.plist and seal";
#endif
    const PlistDictionary info = InfoPlistPatcher::read(app / "Contents/Info.plist");
    EXPECT_EQ(InfoPlistPatcher::stringValue(info, "KVLSourceVersion"), "1.46388.2") << "dpkg's record";
    EXPECT_EQ(InfoPlistPatcher::stringValue(info, "CFBundleDisplayName"), "Claude Work");
    EXPECT_EQ(linux.status(work), CloneStatus::ready("1.46388.2"));
    const auto icon = IcnsFile::largestImageInFile(app / "Contents/Resources/ProfileIcon.icns");
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->pixel(10, 10), (Bitmap::Rgba {0xd9, 0x77, 0x57, 0xff})) << "the theme's largest icon as the base";
    EXPECT_EQ(DesktopEntry::read(dir / "data/applications" / DesktopRegistration::fileName(work.bundleIdentifier()))
                  .value("StartupWMClass"),
        work.bundleIdentifier());

    // Started as the desktop starts it: the installed program runs on the profile's folder, marked as this app's.
    const fs::path record = dir / "record";
    const auto run = ChildProcess::run(app / "Contents/MacOS/KorvelLauncher",
        {{(app / "Contents/MacOS/KorvelLauncher").string(), "claude://x"},
            {{"KORVEL_STANDIN_RECORD", record.string()}}});
    ASSERT_EQ(run.exitStatus, 0) << run.standardError;
    const StandInRecord started = StandInRecord::readOne(record);
    EXPECT_EQ(started.arguments,
        (std::vector<std::string> {(app / "Contents/MacOS/Claude").string(),
            "--user-data-dir=" + paths.dataDir(work.id).string(), "claude://x"}));
    EXPECT_EQ(started.environment.at("KORVEL_PROFILE_APP"), app.string());
    EXPECT_EQ(describeTree(root), before) << "nothing was written into the install";

    StandInLinuxClaude::upgrade(root, "1.47000.0");
    EXPECT_EQ(linux.status(work), CloneStatus::outdated("1.46388.2", "1.47000.0"));
    linux.build(work);
    EXPECT_EQ(linux.status(work), CloneStatus::ready("1.47000.0"));

    const fs::path other = dir / "other";
    StandInLinuxClaude::create(other, "1.47000.0");
    EXPECT_EQ(CloneBuilder(AppPaths(paths.supportDir, paths.appsDir, StandInLinuxClaude::installFolder(other),
                               paths.originalDataDir),
                  builder.launcherURL)
                  .status(work),
        CloneStatus::damaged("linked to another Claude Desktop"));
    fs::remove_all(root);
    EXPECT_EQ(linux.status(work), CloneStatus::sourceMissing()) << "a linked app cannot run without Claude";
}

TEST_F(CloneBuilderTest, ALinuxInstallsIconIsTakenOnlyFromTheDesktopsIconFolders)
{
    const fs::path root = useLinuxInstall();
    // An entry may name any file as its icon: one outside the icon folders is not read, the placeholder is drawn.
    std::ofstream(dir / "secret.png", std::ios::binary) << *solidBitmap(64, 64, 0xff00ff00).encodePng();
    std::ofstream(root / "usr/share/applications/claude-desktop.desktop", std::ios::trunc)
        << "[Desktop Entry]\nType=Application\nName=Claude\nExec=" << (root / "usr/bin/claude-desktop").string()
        << "\nIcon=" << (dir / "secret.png").string() << "\n";
    const fs::path app = CloneBuilder(paths, builder.launcherURL).build(profile("Work"));
    const auto icon = IcnsFile::largestImageInFile(app / "Contents/Resources/ProfileIcon.icns");
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->pixel(10, 10).alpha, 0) << "the placeholder's transparent corner";
}

TEST_F(CloneBuilderTest, ARebuildTakesTheIconOverUnlessItsLetterColourOrSourceIconChanged)
{
    const fs::path root = useLinuxInstall();
    const CloneBuilder linux(paths, builder.launcherURL);
    Profile work = profile("Work", ProfileColor::Blue);
    const auto icon = [&] { return readText(paths.appURL(work) / "Contents/Resources/ProfileIcon.icns"); };
    // A different icon in the built app shows whether the next build drew its own or took this one over.
    const auto mark = [&] {
        IconRenderer::writeICNS(
            solidBitmap(8, 8, 0xff00ff00), "M", {0, 0, 0}, paths.appURL(work) / "Contents/Resources/ProfileIcon.icns");
        return icon();
    };
    linux.build(work);
    const std::string drawn = icon();

    std::string marked = mark();
    StandInLinuxClaude::upgrade(root, "1.47000.0"); // every file replaced, the icon's bytes the same
    linux.build(work);
    EXPECT_EQ(icon(), marked) << "a new version of Claude: taken over";
    work.name = "Wonder";
    linux.build(work);
    EXPECT_EQ(icon(), marked) << "the same letter: taken over";

    const std::vector<std::pair<std::string, std::function<void()>>> changes = {
        {"another letter", [&] { work.name = "Home"; }},
        {"another colour", [&] { work.color = ProfileColor::Red; }},
        {"another icon of Claude's",
            [&] {
                std::ofstream(root / "usr/share/icons/hicolor/256x256/apps/claude-desktop.png", std::ios::trunc)
                    << *solidBitmap(256, 256, 0xff102030).encodePng();
            }},
    };
    for (const auto& [change, make] : changes) {
        marked = mark();
        make();
        linux.build(work);
        EXPECT_NE(icon(), marked) << change << ": drawn again";
        EXPECT_TRUE(IcnsFile::holdsEverySize(paths.appURL(work) / "Contents/Resources/ProfileIcon.icns")) << change;
    }
    EXPECT_NE(icon(), drawn);
}

TEST_F(CloneBuilderTest, ClaudesVersionIsTakenOnlyWhenItLooksLikeOne)
{
    const fs::path root = dir / "root";
    const fs::path install = StandInLinuxClaude::create(root, "1.0");
    env.set("KORVEL_DPKG_ADMINDIR", (dir / "no-dpkg").string());
    env.set("XDG_DATA_DIRS", (root / "usr/share").string());
    paths.sourceApp = install;
    const CloneBuilder linux(paths, builder.launcherURL);
    // package.json's "version" as JSON text → the version Korvel takes.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"("1:2.3~rc1+dfsg-1ubuntu2")", "1:2.3~rc1+dfsg-1ubuntu2"},
        {R"("0.14.10-beta.1+build.5")", "0.14.10-beta.1+build.5"},
        {R"("1.0_rc1")", "unknown"},
        {R"("1.0\nInjected: yes")", "unknown"},
        {R"("\u001b[31m1.0")", "unknown"},
        {R"("1.0\u0000x")", "unknown"},
        {R"("../../x")", "unknown"},
        {R"("1.0 beta")", "unknown"},
        {R"("")", "unknown"},
        {"\"" + std::string(10000, '7') + "\"", "unknown"},
        {"7", "unknown"},
    };
    for (const auto& [json, expected] : cases) {
        writeText(install / "resources/app.asar",
            StandInLinuxClaude::asar({{"package.json", R"({"version": )" + json + "}"}}));
        EXPECT_EQ(linux.sourceVersion(), expected) << json;
    }
    env.set("KORVEL_DPKG_ADMINDIR", StandInLinuxClaude::adminDir(root).string());
    writeText(install / "resources/app.asar", StandInLinuxClaude::asar({{"package.json", R"({"version": "9.9"})"}}));
    EXPECT_EQ(linux.sourceVersion(), "1.0") << "dpkg's record comes before app.asar's";
    // dpkg's record is checked too; what is built from it reads back as a property list.
    StandInLinuxClaude::upgrade(root, "2.0\x1b]0;title\x07");
    const Profile work = profile("Work");
    const fs::path app = linux.build(work);
    EXPECT_EQ(InfoPlistPatcher::stringValue(InfoPlistPatcher::read(app / "Contents/Info.plist"), "KVLSourceVersion"),
        "unknown");
    EXPECT_EQ(linux.status(work), CloneStatus::ready("unknown"));
}
