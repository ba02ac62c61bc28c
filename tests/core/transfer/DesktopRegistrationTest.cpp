#include "core/transfer/DesktopRegistration.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "core/support/FileError.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

using namespace korvel;
using namespace korvel::test;

namespace {

std::filesystem::path makeBundle(const std::filesystem::path& folder, const std::string& name, PlistDictionary plist)
{
    const auto bundle = folder / (name + ".app");
    std::filesystem::create_directories(bundle / "Contents" / "MacOS");
    InfoPlistPatcher::write(plist, bundle / "Contents" / "Info.plist");
    if (const auto executable = plist.find("CFBundleExecutable"); executable != plist.end()) {
        const auto file = bundle / "Contents" / "MacOS" / *executable->second.asString();
        writeText(file, "#!/bin/sh\n");
        std::filesystem::permissions(file, std::filesystem::perms(0755));
    }
    return bundle;
}

} // namespace

TEST(DesktopRegistration, ABundleIsRegisteredWithItsNameExecutableSchemesAndLocation)
{
    TempDir folder;
    const PlistDictionary urlType {{"CFBundleURLName", "Claude"}, {"CFBundleURLSchemes", PlistArray {"claude", "x-c"}}};
    const auto claude = makeBundle(folder / "Apps 100%", "Claude",
        {{"CFBundleIdentifier", "com.anthropic.claudefordesktop"}, {"CFBundleExecutable", "Claude"},
            {"CFBundleName", "Claude"}, {"CFBundleDisplayName", "Claude Desktop"},
            {"CFBundleURLTypes", PlistArray {urlType}}});
    const auto applications = folder / "data" / "applications";
    const auto file = DesktopRegistration::registerBundle(claude, applications, folder / "claude.png");
    EXPECT_EQ(file, applications / "korvel-com.anthropic.claudefordesktop.desktop");
    const auto entry = DesktopEntry::read(file);
    EXPECT_EQ(entry.value("Type"), "Application");
    EXPECT_EQ(entry.value("Name"), "Claude Desktop");
    EXPECT_EQ(entry.value("Exec"), "\"" + folder.path().string() + "/Apps 100%%/Claude.app/Contents/MacOS/Claude\" %U");
    EXPECT_EQ(entry.value("MimeType"), "x-scheme-handler/claude;x-scheme-handler/x-c;");
    EXPECT_EQ(entry.value("Icon"), (folder / "claude.png").string());
    EXPECT_EQ(entry.value(DesktopRegistration::bundleKey), claude.string());

    // Names fall back to CFBundleName, then the folder; a profile app declares no schemes.
    const auto profile = makeBundle(folder.path(), "Claude Work",
        {{"CFBundleIdentifier", "com.veldrane.Korvel.profile.abc"}, {"CFBundleExecutable", "KorvelLauncher"}});
    const auto profileEntry = DesktopEntry::read(DesktopRegistration::registerBundle(profile, applications));
    EXPECT_EQ(profileEntry.value("Name"), "Claude Work");
    EXPECT_EQ(profileEntry.value("MimeType"), std::nullopt);
    EXPECT_EQ(profileEntry.value("Icon"), std::nullopt);
    EXPECT_EQ(DesktopRegistration::entryFor(profile, "%u").value("Exec"),
        "\"" + (profile / "Contents/MacOS/KorvelLauncher").string() + "\" %u");
}

TEST(DesktopRegistration, BundlesThatCannotBeStartedAreRefused)
{
    TempDir folder;
    const auto applications = folder / "applications";
    const auto anonymous = makeBundle(folder.path(), "Anonymous", {{"CFBundleExecutable", "Anonymous"}});
    EXPECT_THROW(DesktopRegistration::registerBundle(anonymous, applications), FileError);
    const auto slashed =
        makeBundle(folder.path(), "Slashed", {{"CFBundleIdentifier", "a/b"}, {"CFBundleExecutable", "S"}});
    EXPECT_THROW(DesktopRegistration::registerBundle(slashed, applications), FileError);
    const auto noExecutable = makeBundle(folder.path(), "Nothing", {{"CFBundleIdentifier", "com.example.nothing"}});
    EXPECT_THROW(DesktopRegistration::registerBundle(noExecutable, applications), FileError);
    const auto missing = makeBundle(folder.path(), "Missing", {{"CFBundleIdentifier", "com.example.missing"}});
    InfoPlistPatcher::write({{"CFBundleIdentifier", "com.example.missing"}, {"CFBundleExecutable", "Gone"}},
        missing / "Contents" / "Info.plist");
    try {
        DesktopRegistration::registerBundle(missing, applications);
        ADD_FAILURE() << "registered a bundle without its executable";
    } catch (const FileError& error) {
        EXPECT_EQ(error.kind(), FileError::Kind::ReadNoSuchFile);
    }
    EXPECT_THROW(DesktopRegistration::registerBundle(folder / "Nowhere.app", applications), FileError);
    EXPECT_FALSE(std::filesystem::exists(applications));
}

TEST(DesktopRegistration, UnregisteringRemovesOnlyTheEntriesOfThatBundle)
{
    TempDir folder;
    const auto applications = folder / "applications";
    const auto one =
        makeBundle(folder.path(), "One", {{"CFBundleIdentifier", "com.example.one"}, {"CFBundleExecutable", "One"}});
    const auto two =
        makeBundle(folder.path(), "Two", {{"CFBundleIdentifier", "com.example.two"}, {"CFBundleExecutable", "Two"}});
    const auto oneFile = DesktopRegistration::registerBundle(one, applications);
    const auto twoFile = DesktopRegistration::registerBundle(two, applications);
    // An entry of one's earlier identifier, and someone else's entry naming it: only ours of this bundle go.
    std::filesystem::copy_file(oneFile, applications / "korvel-com.example.old-one.desktop");
    std::filesystem::copy_file(oneFile, applications / "other.desktop");

    DesktopRegistration::unregisterBundle(one, applications);
    EXPECT_FALSE(std::filesystem::exists(oneFile));
    EXPECT_FALSE(std::filesystem::exists(applications / "korvel-com.example.old-one.desktop"));
    EXPECT_TRUE(std::filesystem::exists(twoFile));
    EXPECT_TRUE(std::filesystem::exists(applications / "other.desktop"));
    EXPECT_NO_THROW(DesktopRegistration::unregisterBundle(one, folder / "no-such-folder"));
}
