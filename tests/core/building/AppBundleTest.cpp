#include "core/building/AppBundle.hpp"
#include "core/building/InfoPlistPatcher.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

using namespace korvel;
using namespace korvel::test;

TEST(AppBundle, AnExecutableBelongsToTheBundleWhoseMacOSFolderHoldsIt)
{
    EXPECT_EQ(AppBundle::containing("/Apps/Claude Work.app/Contents/MacOS/Claude"), "/Apps/Claude Work.app");
    EXPECT_EQ(AppBundle::containing("/Applications/Claude.app/Contents/Frameworks/Claude Helper.app/Contents/MacOS/"
                                    "Claude Helper"),
        "/Applications/Claude.app/Contents/Frameworks/Claude Helper.app");
    EXPECT_EQ(AppBundle::containing("X.app/Contents/MacOS/tool"), "X.app");
    EXPECT_EQ(AppBundle::containing("/A/X.app/Contents/MacOS/sub/tool"), std::nullopt);
    EXPECT_EQ(AppBundle::containing("/A/X.app/Contents/Resources/tool"), std::nullopt);
    EXPECT_EQ(AppBundle::containing("/A/X.app/Contents/MacOS/"), std::nullopt);
    EXPECT_EQ(AppBundle::containing("/A/.app/Contents/MacOS/tool"), std::nullopt);
    EXPECT_EQ(AppBundle::containing("/A/Xapp/Contents/MacOS/tool"), std::nullopt);
    EXPECT_EQ(AppBundle::containing("/usr/bin/env"), std::nullopt);
}

TEST(AppBundle, IdentifierAndExecutableComeFromTheInfoPlist)
{
    TempDir folder;
    const auto bundle = folder / "Claude.app";
    std::filesystem::create_directories(bundle / "Contents");
    EXPECT_EQ(AppBundle::identifier(bundle), std::nullopt);
    EXPECT_EQ(AppBundle::executable(bundle), std::nullopt);

    InfoPlistPatcher::write(
        {{"CFBundleIdentifier", "com.anthropic.claudefordesktop"}, {"CFBundleExecutable", "Claude"}},
        AppBundle::infoPlist(bundle));
    EXPECT_EQ(AppBundle::identifier(bundle), "com.anthropic.claudefordesktop");
    EXPECT_EQ(AppBundle::executable(bundle), bundle / "Contents" / "MacOS" / "Claude");

    InfoPlistPatcher::write({{"CFBundleExecutable", "../../../bin/sh"}}, AppBundle::infoPlist(bundle));
    EXPECT_EQ(AppBundle::executable(bundle), std::nullopt) << "an executable outside the bundle";
    InfoPlistPatcher::write({{"CFBundleExecutable", 7}}, AppBundle::infoPlist(bundle));
    EXPECT_EQ(AppBundle::executable(bundle), std::nullopt);
}

TEST(AppBundle, LocationsCompareWithLinksResolved)
{
    TempDir folder;
    std::filesystem::create_directories(folder / "real" / "Korvel.app");
    std::filesystem::create_directory_symlink(folder / "real", folder / "link");
    const auto real = std::filesystem::canonical(folder / "real" / "Korvel.app");
    EXPECT_EQ(AppBundle::resolvedLocation(folder / "link" / "Korvel.app"), real);
    EXPECT_EQ(AppBundle::resolvedLocation(folder / "link" / "." / "Korvel.app" / ""), real);
    EXPECT_EQ(AppBundle::resolvedLocation(folder / "link" / "Gone.app"), real.parent_path() / "Gone.app");
}
