#include "core/building/DesktopRegistration.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "core/support/FileError.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace korvel;
using namespace korvel::test;

namespace {

std::filesystem::path makeBundle(const std::filesystem::path& folder, const std::string& name, PlistDictionary plist)
{
    const auto bundle = folder / (name + ".app");
    std::filesystem::create_directories(bundle / "Contents" / "MacOS");
    InfoPlistPatcher::write(plist, bundle / "Contents" / "Info.plist");
    return bundle;
}

} // namespace

// The icon, GLib's view of the entries and the fallback below HOME are covered through korvel-tool lsregister.
TEST(DesktopRegistration, EntriesCarryNameExecutableSchemesAndLocation)
{
    TempDir folder;
    const auto data = folder / "data";
    const PlistDictionary urlType {{"CFBundleURLName", "Claude"}, {"CFBundleURLSchemes", PlistArray {"claude", "x-c"}}};
    const auto claude = makeBundle(folder / "Apps 100%", "Claude",
        {{"CFBundleIdentifier", "com.anthropic.claudefordesktop"}, {"CFBundleExecutable", "Claude"},
            {"CFBundleName", "Claude"}, {"CFBundleDisplayName", "Claude Desktop"},
            {"CFBundleURLTypes", PlistArray {urlType}}});
    const auto file = DesktopRegistration::registerBundle(claude / "", data);
    EXPECT_EQ(file, data / "applications/korvel-com.anthropic.claudefordesktop.desktop");
    const auto entry = DesktopEntry::read(file);
    EXPECT_EQ(entry.value("Type"), "Application");
    EXPECT_EQ(entry.value("Name"), "Claude Desktop");
    // A program path with a % is started through sh: GLib would look for the program before undoing the %%.
    EXPECT_EQ(entry.value("Exec"),
        "/bin/sh -c \"exec \\\"\\$0\\\" \\\"\\$@\\\"\" \"" + folder.path().string() +
            "/Apps 100%%/Claude.app/Contents/MacOS/Claude\" %U");
    EXPECT_EQ(entry.value("MimeType"), "x-scheme-handler/claude;x-scheme-handler/x-c;");
    EXPECT_EQ(entry.value(DesktopRegistration::bundleKey), claude.string()) << "without the trailing slash";

    // The name falls back to the folder's; a profile app declares no schemes.
    const auto profile = makeBundle(folder.path(), "Claude Work",
        {{"CFBundleIdentifier", "com.veldrane.Korvel.profile.abc"}, {"CFBundleExecutable", "KorvelLauncher"}});
    const auto profileEntry = DesktopEntry::read(DesktopRegistration::registerBundle(profile, data));
    EXPECT_EQ(profileEntry.value("Name"), "Claude Work");
    EXPECT_EQ(profileEntry.value("MimeType"), std::nullopt);
    EXPECT_EQ(DesktopRegistration::entryFor(profile, "%u").value("Exec"),
        "\"" + (profile / "Contents/MacOS/KorvelLauncher").string() + "\" %u");
    EXPECT_EQ(DesktopRegistration::fileName("org.example/../evil id"), "korvel-org.example_.._evil_id.desktop");

    // A profile app's entry is named as its windows' app id and class are, and moves there from the older name.
    const std::string work = "com.veldrane.Korvel.profile.0b5a1f3c-7d2e-4c61-9a8b-3e4f5a6b7c8d";
    const auto workApp = makeBundle(
        folder.path(), "Claude Home", {{"CFBundleIdentifier", work}, {"CFBundleExecutable", "KorvelLauncher"}});
    std::filesystem::create_directories(data / "applications");
    DesktopRegistration::entryFor(workApp).write(data / "applications" / ("korvel-" + work + ".desktop"));
    const auto workEntry = DesktopRegistration::registerBundle(workApp, data);
    EXPECT_EQ(workEntry, data / "applications" / (work + ".desktop"));
    EXPECT_EQ(DesktopEntry::read(workEntry).value("StartupWMClass"), work);
    EXPECT_EQ(DesktopEntry::read(workEntry).value("StartupNotify"), "true");
    EXPECT_FALSE(std::filesystem::exists(data / "applications" / ("korvel-" + work + ".desktop")));

    // A new identifier replaces the entry under the old one; unregistering removes only the bundle's own.
    std::filesystem::copy_file(file, data / "applications/other.desktop"); // not ours, though it names Claude
    InfoPlistPatcher::write({{"CFBundleIdentifier", "com.example.renamed"}, {"CFBundleExecutable", "Claude"}},
        claude / "Contents/Info.plist");
    const auto renamed = DesktopRegistration::registerBundle(claude, data);
    EXPECT_FALSE(std::filesystem::exists(file));
    DesktopRegistration::unregisterBundle(claude.string() + "/", data);
    EXPECT_FALSE(std::filesystem::exists(renamed));
    EXPECT_TRUE(std::filesystem::exists(data / "applications/other.desktop"));
    EXPECT_TRUE(std::filesystem::exists(data / "applications/korvel-com.veldrane.Korvel.profile.abc.desktop"));
    EXPECT_NO_THROW(DesktopRegistration::unregisterBundle(claude, folder / "no-such-folder"));
}

TEST(DesktopRegistration, BundlesWithoutIdentityAreRefusedBeforeAnythingChanges)
{
    TempDir folder;
    const auto data = folder / "data";
    const auto anonymous = makeBundle(folder.path(), "Anonymous", {{"CFBundleExecutable", "Anonymous"}});
    EXPECT_THROW(DesktopRegistration::registerBundle(anonymous, data), std::runtime_error);
    const auto nothing = makeBundle(folder.path(), "Nothing", {{"CFBundleIdentifier", "com.example.nothing"}});
    EXPECT_THROW(DesktopRegistration::registerBundle(nothing, data), std::runtime_error);
    EXPECT_THROW(DesktopRegistration::registerBundle(folder / "Nowhere.app", data), FileError);
    EXPECT_FALSE(std::filesystem::exists(data));
}
