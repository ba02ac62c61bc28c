#include "core/building/IcnsFile.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "core/system/CommandError.hpp"
#include "core/system/SystemTools.hpp"
#include "tests/support/Fifo.hpp"
#include "tests/support/ScopedEnvironment.hpp"
#include "tests/support/SolidBitmap.hpp"
#include "tests/support/TempDir.hpp"

#include <gio/gdesktopappinfo.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <sys/xattr.h>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

namespace {

const fs::path helpers = fs::path(KORVEL_BINARY_DIR) / "Korvel.app/Contents/Helpers";

// The exit status and output of one of the helpers.
std::pair<int, std::string> runHelper(const std::string& tool, const std::vector<std::string>& arguments)
{
    try {
        return {0, SystemTools::run(helpers / tool, arguments)};
    } catch (const CommandError& error) {
        return {error.status(), error.output()};
    }
}

std::pair<int, std::string> verify(const fs::path& bundle)
{
    return runHelper("codesign", {"--verify", "--deep", "--strict", bundle.string()});
}

// A bundle with a nested app, a framework with relative links, a dangling link and an empty file.
fs::path makeBundle(const fs::path& app)
{
    writeText(app / "Contents/Info.plist", "<plist/>");
    writeText(app / "Contents/MacOS/Claude", "#!/bin/sh\n");
    writeText(app / "Contents/Resources/abc.txt", "abc");
    writeText(app / "Contents/Resources/sub dir/ünïcode name.txt", "");
    writeText(app / "Contents/Frameworks/Lib.framework/Versions/A/Lib", "library");
    fs::create_directory_symlink("A", app / "Contents/Frameworks/Lib.framework/Versions/Current");
    writeText(app / "Contents/Frameworks/Helper.app/Contents/MacOS/Helper", "helper");
    fs::create_symlink("gone", app / "Contents/Dangling");
    return app;
}

// A bundle with an Info.plist of string entries and, when it names one, its executable.
fs::path makeApp(const fs::path& app, const std::map<std::string, std::string>& keys)
{
    fs::create_directories(app / "Contents/MacOS");
    InfoPlistPatcher::write(PlistDictionary(keys.begin(), keys.end()), app / "Contents/Info.plist");
    if (keys.contains("CFBundleExecutable")) // GLib only accepts an entry whose program exists
        writeExecutable(app / "Contents/MacOS" / keys.at("CFBundleExecutable"), "#!/bin/sh\n");
    return app;
}

// The entry as GLib's desktop-entry reader sees it: name, icon, bundle, Exec words; empty when GLib refuses it.
std::vector<std::string> readEntry(const fs::path& file)
{
    g_autoptr(GDesktopAppInfo) info = g_desktop_app_info_new_from_filename(file.c_str());
    if (!info || g_desktop_app_info_get_nodisplay(info))
        return {};
    std::vector<std::string> entry;
    for (const char* key : {"Name", "Icon", "X-Korvel-Bundle"}) {
        g_autofree gchar* value = g_desktop_app_info_get_string(info, key);
        entry.emplace_back(value ? value : "");
    }
    g_autofree gchar* exec = g_desktop_app_info_get_string(info, "Exec");
    g_auto(GStrv) words = nullptr;
    if (exec && g_shell_parse_argv(exec, nullptr, &words, nullptr))
        entry.insert(entry.end(), words, words + g_strv_length(words));
    return entry;
}

} // namespace

TEST(KorvelToolCodesign, SealsEveryFileAndLinkAndVerifyNamesTheFirstDifference)
{
    TempDir dir;
    ScopedEnvironment environment("KORVEL_TOOLS_DIR", std::nullopt);
    const auto app = makeBundle(dir / "Signed.app");
    EXPECT_EQ(verify(app).second, app.string() + ": code object is not signed at all\n");
    SystemTools::adHocSign(app.string() + "/");
    EXPECT_NO_THROW(SystemTools::verifySignature(app));
    const auto files = nlohmann::json::parse(readText(app / "Contents/_CodeSignature/CodeResources")).at("files");
    EXPECT_EQ(files.at("Contents/Resources/abc.txt").at("sha256"), // the standard test vector
        "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(files.at("Contents/Frameworks/Lib.framework/Versions/Current").at("symlink"), "A");
    EXPECT_EQ(files.at("Contents/Dangling").at("symlink"), "gone");
    EXPECT_TRUE(files.contains("Contents/Frameworks/Helper.app/Contents/MacOS/Helper"));
    EXPECT_EQ(files.size(), 8u) << "files and links only, not the seal itself";

    const std::vector<std::tuple<std::string, std::function<void(const fs::path&)>, std::string>> changes = {
        {"modified", [](const auto& b) { writeText(b / "Contents/Resources/abc.txt", "abd"); },
            "file modified: Contents/Resources/abc.txt"},
        {"nested", [](const auto& b) { writeText(b / "Contents/Frameworks/Helper.app/Contents/MacOS/Helper", "H"); },
            "file modified: Contents/Frameworks/Helper.app/Contents/MacOS/Helper"},
        {"added", [](const auto& b) { writeText(b / "Contents/Resources/sub dir/extra", ""); },
            "file added: Contents/Resources/sub dir/extra"},
        {"removed", [](const auto& b) { fs::remove(b / "Contents/Resources/sub dir/ünïcode name.txt"); },
            "file missing: Contents/Resources/sub dir/ünïcode name.txt"},
        {"retargeted",
            [](const auto& b) {
                fs::remove(b / "Contents/Dangling"), fs::create_symlink("./", b / "Contents/Dangling");
            },
            "file modified: Contents/Dangling"},
    };
    for (const auto& [name, change, reason] : changes) {
        const auto copy = dir / (name + ".app");
        SystemTools::cloneTree(app, copy);
        ASSERT_EQ(verify(copy).first, 0);
        change(copy);
        EXPECT_EQ(
            verify(copy), std::pair(1, copy.string() + ": a sealed resource is missing or invalid: " + reason + "\n"));
    }
}

// A seal of another format, or no number at all, is damaged however its digests read; so is a seal nested
// without end. A named pipe among the bundle's files is never waited on.
TEST(KorvelToolCodesign, OnlyASealOfTheKnownFormatIsAccepted)
{
    TempDir dir;
    ScopedEnvironment environment("KORVEL_TOOLS_DIR", std::nullopt);
    const auto app = makeBundle(dir / "Signed.app");
    SystemTools::adHocSign(app);
    const fs::path sealFile = app / "Contents/_CodeSignature/CodeResources";
    const auto seal = nlohmann::json::parse(readText(sealFile));
    for (const nlohmann::json& format : {nlohmann::json(2), nlohmann::json(0), nlohmann::json("1"), nlohmann::json(1.5),
             nlohmann::json(nullptr), nlohmann::json(-1)}) {
        auto altered = seal;
        altered["format"] = format;
        writeText(sealFile, altered.dump());
        EXPECT_EQ(verify(app), std::pair(1, app.string() + ": the signature seal is damaged\n")) << format;
    }
    auto unnumbered = seal;
    unnumbered.erase("format");
    writeText(sealFile, unnumbered.dump());
    EXPECT_EQ(verify(app).first, 1);
    writeText(sealFile, std::string(100000, '[') + std::string(100000, ']'));
    EXPECT_EQ(verify(app), std::pair(1, app.string() + ": the signature seal is damaged\n"));

    writeText(sealFile, seal.dump());
    ASSERT_EQ(verify(app).first, 0);
    Fifo::make(app / "Contents/Resources/pipe");
    EXPECT_TRUE(Fifo::readsWithoutWaiting(app / "Contents/Resources/pipe", [&] { verify(app); }));
}

TEST(KorvelTool, HelpersRefuseOtherArgumentsAndUnusableInput)
{
    TempDir dir;
    ScopedEnvironment environment("XDG_DATA_HOME", (dir / "data").string());
    const std::string app = makeBundle(dir / "A.app").string(), missing = (dir / "Missing.app").string();
    makeApp(dir / "NoExecutable.app", {{"CFBundleIdentifier", "org.example.none"}});
    writeText(dir / "folder/file", "x");
    // Usage errors end with status 2, unusable input with 1; nothing left to do is fine.
    for (const auto& [tool, arguments, status] : std::vector<std::tuple<std::string, std::vector<std::string>, int>> {
             {"codesign", {"--sign", "-", app}, 2}, {"codesign", {"--force", "--deep", "--sign", "ABC", app}, 2},
             {"codesign", {"--verify", app}, 2}, {"codesign", {}, 2}, {"korvel-tool", {"nonsense"}, 2},
             {"codesign", {"--force", "--deep", "--sign", "-", (dir / "folder").string()}, 1},
             {"xattr", {"-d", "com.apple.quarantine", app}, 2}, {"xattr", {"-dr", "user.other", app}, 2},
             {"xattr", {"-dr", "com.apple.quarantine", missing}, 1}, {"xattr", {"-dr", "com.apple.quarantine", app}, 0},
             {"lsregister", {"-r", app}, 2}, {"lsregister", {app}, 2}, {"lsregister", {"-f", missing}, 1},
             {"lsregister", {"-f", (dir / "NoExecutable.app").string()}, 1}, {"lsregister", {"-u", missing}, 0}})
        EXPECT_EQ(runHelper(tool, arguments).first, status) << tool << " " << arguments.size();
    EXPECT_FALSE(fs::exists(dir / "A.app/Contents/_CodeSignature"));
    EXPECT_NE(runHelper("codesign", {"--force", "--deep", "--sign", "-", (dir / "folder").string()})
                  .second.find("bundle format unrecognized"),
        std::string::npos);
}

TEST(KorvelToolXattr, RemovesTheQuarantineRecursivelyWithoutFollowingLinks)
{
    TempDir dir;
    const auto app = dir / "Q.app";
    writeText(app / "Contents/Resources/deep/file", "y");
    writeText(dir / "outside", "z");
    fs::create_symlink(dir / "outside", app / "Contents/link");
    const auto mark = [](const fs::path& path) {
        return ::setxattr(path.c_str(), "user.com.apple.quarantine", "0081;5f0c;Safari;", 17, 0) == 0;
    };
    if (!mark(app))
        GTEST_SKIP() << "no user extended attributes on " << dir.path();
    for (const fs::path& path : {app / "Contents", app / "Contents/Resources/deep/file", dir / "outside"})
        ASSERT_TRUE(mark(path));
    ::setxattr((app / "Contents/Resources/deep/file").c_str(), "user.keep", "1", 1, 0);

    ScopedEnvironment environment("KORVEL_TOOLS_DIR", std::nullopt);
    SystemTools::removeQuarantine(app);
    char buffer[64];
    for (const fs::path& path : {app, app / "Contents", app / "Contents/Resources/deep/file"})
        EXPECT_LT(::getxattr(path.c_str(), "user.com.apple.quarantine", buffer, sizeof buffer), 0) << path;
    EXPECT_EQ(::getxattr((app / "Contents/Resources/deep/file").c_str(), "user.keep", buffer, sizeof buffer), 1);
    EXPECT_EQ(::getxattr((dir / "outside").c_str(), "user.com.apple.quarantine", buffer, sizeof buffer), 17);
}

TEST(KorvelToolLsregister, WritesAndRemovesTheDesktopEntry)
{
    TempDir dir;
    ScopedEnvironment environment("HOME", (dir / "home").string());
    environment.set("XDG_DATA_HOME", (dir / "data").string());
    environment.set("KORVEL_TOOLS_DIR", std::nullopt);

    // Characters that need quoting in Exec and escaping in the entry.
    const auto bundle = makeApp(dir / "Apps $HOME \"q\" `x` back\\slash/Claude Work.app",
        {{"CFBundleIdentifier", "com.veldrane.Korvel.profile.abc"}, {"CFBundleName", "Claude"},
            {"CFBundleDisplayName", "Claude Work"}, {"CFBundleExecutable", "KorvelLauncher"},
            {"CFBundleIconFile", "ProfileIcon"}});
    writeText(bundle / "Contents/Resources/ProfileIcon.icns",
        IcnsFile::encode({solidBitmap(32, 32, 0xff0000ff), solidBitmap(128, 128, 0xff00ff00)}).value());
    SystemTools::registerWithLaunchServices(bundle);
    const auto file = dir / "data/applications/korvel-com.veldrane.Korvel.profile.abc.desktop";
    const auto icon = dir / "data/icons/hicolor/128x128/apps/korvel-com.veldrane.Korvel.profile.abc.png";
    EXPECT_EQ(readEntry(file),
        (std::vector<std::string> {
            "Claude Work", icon.string(), bundle.string(), (bundle / "Contents/MacOS/KorvelLauncher").string(), "%U"}));
    const auto png = Bitmap::decodePng(readText(icon));
    ASSERT_TRUE(png);
    EXPECT_EQ(png->width(), 128);
    EXPECT_EQ(png->pixel(64, 64), (Bitmap::Rgba {0, 255, 0, 255}));

    // Registering again after a rename and without an icon replaces the entry and drops the old icon.
    makeApp(bundle,
        {{"CFBundleIdentifier", "com.veldrane.Korvel.profile.abc"}, {"CFBundleName", "Claude Home"},
            {"CFBundleExecutable", "KorvelLauncher"}});
    EXPECT_EQ(runHelper("lsregister", {"-f", bundle.string()}).first, 0);
    EXPECT_EQ(readEntry(file).at(0), "Claude Home");
    EXPECT_EQ(readEntry(file).at(1), "");
    EXPECT_FALSE(fs::exists(icon));

    // Another bundle's entry stays when this one goes; unknown bundles are fine.
    SystemTools::registerWithLaunchServices(
        makeApp(dir / "Other.app", {{"CFBundleIdentifier", "com.example.other"}, {"CFBundleExecutable", "Other"}}));
    SystemTools::unregisterFromLaunchServices(bundle.string() + "/");
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(readEntry(dir / "data/applications/korvel-com.example.other.desktop").at(0), "Other");

    // Without XDG_DATA_HOME the entries go below HOME; an identifier cannot lead out of their folder.
    environment.set("XDG_DATA_HOME", std::nullopt);
    SystemTools::registerWithLaunchServices(
        makeApp(dir / "Plain.app", {{"CFBundleIdentifier", "org.example/../evil"}, {"CFBundleExecutable", "Plain"}}));
    EXPECT_EQ(readEntry(dir / "home/.local/share/applications/korvel-org.example_.._evil.desktop").at(0), "Plain");
}
