#include "core/building/AppBundle.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "core/support/DesktopEntry.hpp"
#include "tests/support/BackgroundProcess.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

using namespace korvel;
using namespace korvel::test;

namespace {

// The schemes of CFBundleURLTypes.
std::vector<std::string> urlSchemes(const PlistDictionary& plist)
{
    std::vector<std::string> schemes;
    const auto types = plist.find("CFBundleURLTypes");
    if (types == plist.end() || !types->second.asArray())
        return schemes;
    for (const auto& type : *types->second.asArray())
        if (const auto* entry = type.asDictionary(); entry && entry->contains("CFBundleURLSchemes"))
            for (const auto& scheme : *entry->find("CFBundleURLSchemes")->second.asArray())
                schemes.push_back(*scheme.asString());
    return schemes;
}

} // namespace

TEST(Install, TheBuildAndTheInstallLayKorvelOutAsABundle)
{
    const std::filesystem::path built = KORVEL_BUILT_BUNDLE;
    const PlistDictionary plist = InfoPlistPatcher::read(AppBundle::infoPlist(built));
    EXPECT_EQ(InfoPlistPatcher::stringValue(plist, "CFBundleIdentifier"), "com.veldrane.Korvel");
    EXPECT_EQ(InfoPlistPatcher::stringValue(plist, "CFBundleExecutable"), "Korvel");
    EXPECT_EQ(urlSchemes(plist), std::vector<std::string> {"claude"});

    TempDir folder;
    const std::filesystem::path prefix = folder / "My $Pre\"fix 100%";
    BackgroundProcess install(KORVEL_CMAKE,
        BackgroundProcess::Options {
            .arguments = {"cmake", "--install", KORVEL_BINARY_DIR, "--prefix", prefix.string()}});
    install.waitForLine([](const std::string&) { return false; });
    ASSERT_EQ(install.wait(), 0);

    // Everything of the built bundle, links as links; only the library's development link (.so) stays behind.
    const std::filesystem::path bundle = prefix / "lib" / "korvel" / "Korvel.app";
    for (const auto& item : std::filesystem::recursive_directory_iterator(built)) {
        if (item.path().extension() == ".so")
            continue;
        const auto installed = bundle / item.path().lexically_relative(built);
        const auto status = std::filesystem::symlink_status(installed);
        ASSERT_TRUE(std::filesystem::exists(status)) << installed;
        EXPECT_EQ(std::filesystem::is_symlink(status), item.is_symlink()) << installed;
        if (item.is_symlink() && std::filesystem::is_symlink(status)) {
            EXPECT_EQ(std::filesystem::read_symlink(installed), std::filesystem::read_symlink(item.path()));
        }
    }
    EXPECT_EQ(InfoPlistPatcher::read(AppBundle::infoPlist(bundle)), plist);

    const auto executable = bundle / "Contents" / "MacOS" / "Korvel";
    EXPECT_EQ(
        std::filesystem::read_symlink(prefix / "bin" / "korvel"), "../lib/korvel/Korvel.app/Contents/MacOS/Korvel");
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
