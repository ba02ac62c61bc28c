#include "core/building/Bitmap.hpp"
#include "core/building/IcnsFile.hpp"
#include "core/transfer/CommandError.hpp"
#include "core/transfer/SystemTools.hpp"
#include "tests/support/ScopedEnvironment.hpp"
#include "tests/support/TempDir.hpp"

#include <gio/gdesktopappinfo.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>
#include <sys/xattr.h>

using namespace korvel;
using korvel::test::readText;
using korvel::test::ScopedEnvironment;
using korvel::test::TempDir;
using korvel::test::writeText;

namespace {

const std::filesystem::path helpers = std::filesystem::path(KORVEL_BINARY_DIR) / "Korvel.app/Contents/Helpers";

struct Outcome
{
    int status = 0;
    std::string output;
};

Outcome runHelper(const std::string& tool, const std::vector<std::string>& arguments)
{
    try {
        return {0, SystemTools::run(helpers / tool, arguments)};
    } catch (const CommandError& error) {
        return {error.status(), error.output()};
    }
}

Outcome verify(const std::filesystem::path& bundle)
{
    return runHelper("codesign", {"--verify", "--deep", "--strict", bundle.string()});
}

// A bundle with a nested app, a framework with relative links, a dangling link and an empty file.
std::filesystem::path makeBundle(const TempDir& dir, const std::string& name = "Signed.app")
{
    const auto app = dir / name;
    writeText(app / "Contents/Info.plist", "<plist/>");
    writeText(app / "Contents/MacOS/Claude", "#!/bin/sh\n");
    writeText(app / "Contents/Resources/abc.txt", "abc");
    writeText(app / "Contents/Resources/empty", "");
    writeText(app / "Contents/Resources/sub dir/ünïcode name.txt", "text");
    const auto framework = app / "Contents/Frameworks/Lib.framework";
    writeText(framework / "Versions/A/Lib", "library");
    std::filesystem::create_directory_symlink("A", framework / "Versions/Current");
    std::filesystem::create_symlink("Versions/Current/Lib", framework / "Lib");
    writeText(app / "Contents/Frameworks/Helper.app/Contents/MacOS/Helper", "helper");
    std::filesystem::create_symlink("gone", app / "Contents/Dangling");
    for (int i = 0; i < 40; ++i)
        writeText(app / "Contents/Resources/many" / std::to_string(i), std::string(static_cast<size_t>(i) * 1000, 'm'));
    return app;
}

std::filesystem::path signedCopy(const std::filesystem::path& bundle, const TempDir& dir, const std::string& name)
{
    const auto copy = dir / name;
    SystemTools::cloneTree(bundle, copy);
    return copy;
}

} // namespace

TEST(KorvelToolCodesign, SignsEveryFileAndLinkAndVerifies)
{
    TempDir dir;
    ScopedEnvironment environment("KORVEL_TOOLS_DIR", std::nullopt);
    const auto app = makeBundle(dir);
    EXPECT_NO_THROW(SystemTools::adHocSign(app));
    EXPECT_NO_THROW(SystemTools::verifySignature(app));

    const nlohmann::json seal = nlohmann::json::parse(readText(app / "Contents/_CodeSignature/CodeResources"));
    const nlohmann::json& files = seal.at("files");
    // SHA-256 of "abc", the standard test vector.
    EXPECT_EQ(files.at("Contents/Resources/abc.txt").at("sha256"),
        "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(files.at("Contents/Resources/empty").at("sha256"),
        "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(files.at("Contents/Frameworks/Lib.framework/Versions/Current").at("symlink"), "A");
    EXPECT_EQ(files.at("Contents/Dangling").at("symlink"), "gone");
    EXPECT_TRUE(files.contains("Contents/Frameworks/Helper.app/Contents/MacOS/Helper"));
    EXPECT_TRUE(files.contains("Contents/Resources/sub dir/ünïcode name.txt"));
    EXPECT_FALSE(files.contains("Contents/_CodeSignature/CodeResources"));
    EXPECT_FALSE(files.contains("Contents/Resources")); // folders are covered by their contents
    EXPECT_EQ(files.size(), 50u);

    // Signing again replaces the seal; a trailing slash names the same bundle.
    writeText(app / "Contents/Resources/abc.txt", "changed");
    EXPECT_NO_THROW(SystemTools::adHocSign(app.string() + "/"));
    EXPECT_EQ(verify(app).status, 0);
}

TEST(KorvelToolCodesign, VerifyNamesTheFirstDifference)
{
    TempDir dir;
    const auto app = makeBundle(dir);
    ASSERT_EQ(runHelper("codesign", {"--force", "--deep", "--sign", "-", app.string()}).status, 0);

    const auto unsignedApp = makeBundle(dir, "Unsigned.app");
    EXPECT_EQ(verify(unsignedApp).output, unsignedApp.string() + ": code object is not signed at all\n");

    const auto check = [&](const std::string& name, const std::function<void(const std::filesystem::path&)>& change,
                           const std::string& reason) {
        const auto copy = signedCopy(app, dir, name);
        ASSERT_EQ(verify(copy).status, 0);
        change(copy);
        const Outcome outcome = verify(copy);
        EXPECT_EQ(outcome.status, 1) << name;
        EXPECT_EQ(outcome.output, copy.string() + ": a sealed resource is missing or invalid: " + reason + "\n");
    };
    check(
        "modified.app", [](const auto& b) { writeText(b / "Contents/Resources/abc.txt", "abd"); },
        "file modified: Contents/Resources/abc.txt");
    check(
        "nested.app",
        [](const auto& b) { writeText(b / "Contents/Frameworks/Helper.app/Contents/MacOS/Helper", "HELPER"); },
        "file modified: Contents/Frameworks/Helper.app/Contents/MacOS/Helper");
    check(
        "added.app", [](const auto& b) { writeText(b / "Contents/Resources/sub dir/extra", ""); },
        "file added: Contents/Resources/sub dir/extra");
    check(
        "removed.app", [](const auto& b) { std::filesystem::remove(b / "Contents/Resources/many/7"); },
        "file missing: Contents/Resources/many/7");
    check(
        "retargeted.app",
        [](const auto& b) {
            const auto link = b / "Contents/Frameworks/Lib.framework/Versions/Current";
            std::filesystem::remove(link);
            std::filesystem::create_directory_symlink("./A", link);
        },
        "file modified: Contents/Frameworks/Lib.framework/Versions/Current");
    check(
        "replaced.app",
        [](const auto& b) {
            std::filesystem::remove(b / "Contents/Info.plist");
            std::filesystem::create_symlink("MacOS/Claude", b / "Contents/Info.plist");
        },
        "file modified: Contents/Info.plist");

    // Through SystemTools the failure is the CommandError the builder reports.
    const auto broken = signedCopy(app, dir, "broken.app");
    writeText(broken / "Contents/MacOS/Claude", "tampered");
    ScopedEnvironment environment("KORVEL_TOOLS_DIR", helpers.string());
    try {
        SystemTools::verifySignature(broken);
        FAIL();
    } catch (const CommandError& error) {
        EXPECT_EQ(std::string(error.what()),
            (helpers / "codesign").string() + " --verify --deep --strict " + broken.string() + " failed (exit 1): " +
                broken.string() + ": a sealed resource is missing or invalid: file modified: Contents/MacOS/Claude");
    }
}

TEST(KorvelToolCodesign, RefusesOtherArgumentsAndNonBundles)
{
    TempDir dir;
    const auto app = makeBundle(dir);
    const std::string path = app.string();
    EXPECT_EQ(runHelper("codesign", {"--sign", "-", path}).status, 2);
    EXPECT_EQ(runHelper("codesign", {"--force", "--deep", "--sign", "ABC", path}).status, 2);
    EXPECT_EQ(runHelper("codesign", {"--verify", path}).status, 2);
    EXPECT_EQ(runHelper("codesign", {}).status, 2);
    EXPECT_FALSE(std::filesystem::exists(app / "Contents/_CodeSignature"));

    writeText(dir / "folder/file", "x");
    const Outcome notBundle = runHelper("codesign", {"--force", "--deep", "--sign", "-", (dir / "folder").string()});
    EXPECT_EQ(notBundle.status, 1);
    EXPECT_NE(notBundle.output.find("bundle format unrecognized"), std::string::npos);
    EXPECT_EQ(verify(dir / "missing.app").status, 1);

    EXPECT_EQ(runHelper("korvel-tool", {"codesign", "--verify", "--deep", "--strict", path}).output,
        path + ": code object is not signed at all\n");
    EXPECT_EQ(runHelper("korvel-tool", {"nonsense"}).status, 2);
}

TEST(KorvelToolXattr, RemovesTheQuarantineRecursivelyWithoutFollowingLinks)
{
    TempDir dir;
    const auto app = dir / "Q.app";
    writeText(app / "Contents/MacOS/Claude", "x");
    writeText(app / "Contents/Resources/deep/file", "y");
    writeText(dir / "outside", "z");
    std::filesystem::create_symlink(dir / "outside", app / "Contents/link");
    const char* value = "0081;5f0c;Safari;";
    const auto mark = [&](const std::filesystem::path& path) {
        return ::setxattr(path.c_str(), "user.com.apple.quarantine", value, 17, 0) == 0;
    };
    if (!mark(app))
        GTEST_SKIP() << "no user extended attributes on " << dir.path();
    for (const auto* relative : {"Contents", "Contents/MacOS/Claude", "Contents/Resources/deep/file"})
        ASSERT_TRUE(mark(app / relative));
    ASSERT_TRUE(mark(dir / "outside"));
    ::setxattr((app / "Contents/MacOS/Claude").c_str(), "user.keep", "1", 1, 0);

    ScopedEnvironment environment("KORVEL_TOOLS_DIR", std::nullopt);
    SystemTools::removeQuarantine(app);
    char buffer[64];
    for (const auto* relative : {"", "Contents", "Contents/MacOS/Claude", "Contents/Resources/deep/file"})
        EXPECT_LT(::getxattr((app / relative).c_str(), "user.com.apple.quarantine", buffer, sizeof buffer), 0)
            << relative;
    EXPECT_EQ(::getxattr((app / "Contents/MacOS/Claude").c_str(), "user.keep", buffer, sizeof buffer), 1);
    EXPECT_EQ(::getxattr((dir / "outside").c_str(), "user.com.apple.quarantine", buffer, sizeof buffer), 17);

    // Nothing left to remove is fine; a missing path or other arguments are not.
    EXPECT_EQ(runHelper("xattr", {"-dr", "com.apple.quarantine", app.string()}).status, 0);
    EXPECT_EQ(runHelper("xattr", {"-dr", "com.apple.quarantine", (dir / "missing").string()}).status, 1);
    EXPECT_EQ(runHelper("xattr", {"-d", "com.apple.quarantine", app.string()}).status, 2);
    EXPECT_EQ(runHelper("xattr", {"-dr", "user.other", app.string()}).status, 2);
}

namespace {

void writeInfoPlist(const std::filesystem::path& bundle, const std::vector<std::pair<std::string, std::string>>& keys)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    for (const auto& [key, value] : keys)
        xml += "<key>" + key + "</key><string>" + value + "</string>\n";
    writeText(bundle / "Contents/Info.plist", xml + "</dict>\n</plist>\n");
}

Bitmap filled(int side, std::uint32_t argb)
{
    Bitmap image(side, side);
    std::fill(image.pixels(), image.pixels() + side * side, argb);
    return image;
}

// The entry as GLib's desktop-entry reader sees it.
struct Entry
{
    bool valid = false;
    std::string name;
    std::vector<std::string> exec;
    std::string icon;
    std::string bundle;
    bool hasNoDisplay = true;
};

Entry readEntry(const std::filesystem::path& file)
{
    Entry entry;
    GKeyFile* keys = g_key_file_new();
    if (!g_key_file_load_from_file(keys, file.c_str(), G_KEY_FILE_NONE, nullptr)) {
        g_key_file_free(keys);
        return entry;
    }
    const auto string = [&](const char* key) {
        gchar* value = g_key_file_get_string(keys, G_KEY_FILE_DESKTOP_GROUP, key, nullptr);
        std::string text = value ? value : "";
        g_free(value);
        return text;
    };
    entry.valid = string("Type") == "Application";
    entry.name = string("Name");
    entry.icon = string("Icon");
    entry.bundle = string("X-Korvel-Bundle");
    entry.hasNoDisplay = g_key_file_has_key(keys, G_KEY_FILE_DESKTOP_GROUP, "NoDisplay", nullptr);
    gchar** argv = nullptr;
    if (g_shell_parse_argv(string("Exec").c_str(), nullptr, &argv, nullptr)) {
        for (gchar** word = argv; *word; ++word)
            entry.exec.emplace_back(*word);
        g_strfreev(argv);
    }
    g_key_file_free(keys);
    GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(file.c_str());
    entry.valid = entry.valid && info;
    if (info)
        g_object_unref(info);
    return entry;
}

} // namespace

TEST(KorvelToolLsregister, WritesAndRemovesTheDesktopEntry)
{
    TempDir dir;
    ScopedEnvironment environment("HOME", (dir / "home").string());
    environment.set("XDG_DATA_HOME", (dir / "data").string());
    environment.set("KORVEL_TOOLS_DIR", std::nullopt);

    // Characters that need quoting in Exec and escaping in the entry.
    const auto bundle = dir / "Apps $HOME \"q\" `x` back\\slash" / "Claude Work.app";
    writeInfoPlist(bundle,
        {{"CFBundleIdentifier", "com.veldrane.Korvel.profile.abc"}, {"CFBundleName", "Claude"},
            {"CFBundleDisplayName", "Claude Work"}, {"CFBundleExecutable", "KorvelLauncher"},
            {"CFBundleIconFile", "ProfileIcon"}});
    const std::optional<std::string> icns = IcnsFile::encode({filled(32, 0xff0000ff), filled(128, 0xff00ff00)});
    ASSERT_TRUE(icns);
    writeText(bundle / "Contents/Resources/ProfileIcon.icns", *icns);
    // GLib only accepts an entry whose program exists.
    writeText(bundle / "Contents/MacOS/KorvelLauncher", "#!/bin/sh\n");
    std::filesystem::permissions(bundle / "Contents/MacOS/KorvelLauncher", std::filesystem::perms(0755));

    SystemTools::registerWithLaunchServices(bundle);
    const auto file = dir / "data/applications/korvel-com.veldrane.Korvel.profile.abc.desktop";
    ASSERT_TRUE(std::filesystem::exists(file));
    const Entry entry = readEntry(file);
    EXPECT_TRUE(entry.valid);
    EXPECT_EQ(entry.name, "Claude Work");
    EXPECT_EQ(entry.exec, (std::vector<std::string> {(bundle / "Contents/MacOS/KorvelLauncher").string(), "%U"}));
    EXPECT_EQ(entry.bundle, bundle.string());
    EXPECT_FALSE(entry.hasNoDisplay);
    const auto icon = dir / "data/icons/hicolor/128x128/apps/korvel-com.veldrane.Korvel.profile.abc.png";
    EXPECT_EQ(entry.icon, icon.string());
    const std::optional<Bitmap> png = Bitmap::decodePng(readText(icon));
    ASSERT_TRUE(png);
    EXPECT_EQ(png->width(), 128);
    EXPECT_EQ(png->pixel(64, 64), (Bitmap::Rgba {0, 255, 0, 255}));

    // Registering again after a rename and without an icon replaces the entry and drops the old icon.
    writeInfoPlist(bundle,
        {{"CFBundleIdentifier", "com.veldrane.Korvel.profile.abc"}, {"CFBundleName", "Claude Home"},
            {"CFBundleExecutable", "KorvelLauncher"}});
    EXPECT_EQ(runHelper("lsregister", {"-f", bundle.string()}).status, 0);
    EXPECT_EQ(readEntry(file).name, "Claude Home");
    EXPECT_TRUE(readEntry(file).icon.empty());
    EXPECT_FALSE(std::filesystem::exists(icon));

    // Another bundle's entry stays when this one goes; unknown bundles are fine.
    const auto other = dir / "Other.app";
    writeInfoPlist(other, {{"CFBundleIdentifier", "com.example.other"}, {"CFBundleExecutable", "Other"}});
    SystemTools::registerWithLaunchServices(other);
    EXPECT_EQ(readEntry(dir / "data/applications/korvel-com.example.other.desktop").name, "Other");
    SystemTools::unregisterFromLaunchServices(bundle.string() + "/");
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(std::filesystem::exists(dir / "data/applications/korvel-com.example.other.desktop"));
    EXPECT_EQ(runHelper("lsregister", {"-u", (dir / "Unknown.app").string()}).status, 0);
    EXPECT_EQ(runHelper("lsregister", {"-u", bundle.string()}).status, 0);
}

TEST(KorvelToolLsregister, FallsBackToTheHomeFolderAndRefusesBadInput)
{
    TempDir dir;
    ScopedEnvironment environment("HOME", (dir / "home").string());
    environment.set("XDG_DATA_HOME", std::nullopt);
    const auto bundle = dir / "Plain.app";
    writeInfoPlist(bundle, {{"CFBundleIdentifier", "org.example/../evil"}, {"CFBundleExecutable", "Plain"}});
    EXPECT_EQ(runHelper("lsregister", {"-f", bundle.string()}).status, 0);
    const auto file = dir / "home/.local/share/applications/korvel-org.example_.._evil.desktop";
    EXPECT_EQ(readEntry(file).name, "Plain");

    EXPECT_EQ(runHelper("lsregister", {"-f", (dir / "Missing.app").string()}).status, 1);
    writeInfoPlist(dir / "NoExecutable.app", {{"CFBundleIdentifier", "org.example.none"}});
    EXPECT_EQ(runHelper("lsregister", {"-f", (dir / "NoExecutable.app").string()}).status, 1);
    EXPECT_EQ(runHelper("lsregister", {"-r", bundle.string()}).status, 2);
    EXPECT_EQ(runHelper("lsregister", {bundle.string()}).status, 2);
    EXPECT_TRUE(std::filesystem::exists(file));
}
