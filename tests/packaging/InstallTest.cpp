#include "core/building/AppBundle.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "core/support/DesktopEntry.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

using namespace korvel;
using namespace korvel::test;
namespace fs = std::filesystem;

TEST(Install, TheBuildAndTheInstallLayKorvelOutAsABundle)
{
    const fs::path built = KORVEL_BUILT_BUNDLE;
    const PlistDictionary plist = InfoPlistPatcher::read(AppBundle::infoPlist(built));
    EXPECT_EQ(InfoPlistPatcher::stringValue(plist, "CFBundleIdentifier"), "com.veldrane.Korvel");
    EXPECT_EQ(InfoPlistPatcher::stringValue(plist, "CFBundleExecutable"), "Korvel");
    EXPECT_EQ(plist.at("CFBundleURLTypes"),
        PlistValue(PlistArray {
            PlistDictionary {{"CFBundleURLName", "Claude link"}, {"CFBundleURLSchemes", PlistArray {"claude"}}}}));

    TempDir folder;
    const fs::path prefix = folder / "My $Pre\"fix 100%";
    const auto install =
        ChildProcess::run(KORVEL_CMAKE, {{"cmake", "--install", KORVEL_BINARY_DIR, "--prefix", prefix.string()}});
    ASSERT_EQ(install.exitStatus, 0) << install.standardError;

    // Everything of the built bundle, links as links; only the library's development link (.so) stays behind.
    const fs::path bundle = prefix / "lib" / "korvel" / "Korvel.app";
    for (const auto& item : fs::recursive_directory_iterator(built)) {
        if (item.path().extension() == ".so")
            continue;
        const auto installed = bundle / item.path().lexically_relative(built);
        const auto status = fs::symlink_status(installed);
        ASSERT_TRUE(fs::exists(status)) << installed;
        EXPECT_EQ(fs::is_symlink(status), item.is_symlink()) << installed;
        if (item.is_symlink() && fs::is_symlink(status)) {
            EXPECT_EQ(fs::read_symlink(installed), fs::read_symlink(item.path()));
        }
    }
    EXPECT_EQ(InfoPlistPatcher::read(AppBundle::infoPlist(bundle)), plist);

    const auto executable = bundle / "Contents" / "MacOS" / "Korvel";
    EXPECT_EQ(fs::read_symlink(prefix / "bin" / "korvel"), "../lib/korvel/Korvel.app/Contents/MacOS/Korvel");
    EXPECT_EQ(AppBundle::containing(executable), bundle);

    // Under the name korvel the same program is the command line.
    const auto version = ChildProcess::run(prefix / "bin" / "korvel", {.arguments = {"korvel", "--version"}});
    EXPECT_EQ(version.exitStatus, 0) << version.standardError;
    EXPECT_EQ(version.standardOutput.rfind("korvel ", 0), 0u) << version.standardOutput;

    const auto entry = DesktopEntry::read(prefix / "share" / "applications" / "korvel.desktop");
    EXPECT_EQ(entry.value("Exec"), DesktopEntry::execLine({executable.string()}, "%u"));
    EXPECT_EQ(entry.value("MimeType"), "x-scheme-handler/claude;");
    EXPECT_EQ(entry.value("X-Korvel-Bundle"), bundle.string());
}
