#include "core/model/AppPaths.hpp"
#include "tests/support/ScopedEnvironment.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

using namespace korvel;

using korvel::test::ScopedEnvironment;

TEST(AppPaths, LiveFollowsTheXdgEnvironment)
{
    ScopedEnvironment env;
    env.set("HOME", "/home/ada");
    env.set("XDG_DATA_HOME", "/x/data");
    env.set("XDG_CONFIG_HOME", "/x/config");
    env.set("KORVEL_CLAUDE_APP", "/opt/Claude.app");
    const AppPaths paths = AppPaths::live();
    EXPECT_EQ(paths.supportDir, "/x/data/Korvel");
    EXPECT_EQ(paths.appsDir, "/home/ada/Applications/Claude Profiles");
    EXPECT_EQ(paths.sourceApp, "/opt/Claude.app");
    EXPECT_EQ(paths.originalDataDir, "/x/config/Claude");

    env.set("XDG_DATA_HOME", std::nullopt);
    env.set("XDG_CONFIG_HOME", "relative/is/ignored");
    env.set("KORVEL_CLAUDE_APP", std::nullopt);
    const AppPaths fallback = AppPaths::live();
    EXPECT_EQ(fallback.supportDir, "/home/ada/.local/share/Korvel");
    EXPECT_EQ(fallback.originalDataDir, "/home/ada/.config/Claude");
    EXPECT_EQ(fallback.sourceApp, "/Applications/Claude.app");
}

TEST(AppPaths, DerivedLocations)
{
    const AppPaths paths("/s", "/apps", "/Applications/Claude.app", "/orig");
    const Profile profile {*Uuid::parse("0b5a1f3c-7d2e-4c61-9a8b-3e4f5a6b7c8d"), "/", ProfileColor::Red, {}};
    EXPECT_EQ(paths.profilesFile(), "/s/profiles.json");
    EXPECT_EQ(paths.profileDir(profile.id), "/s/Profiles/0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D");
    EXPECT_EQ(paths.dataDir(profile.id), "/s/Profiles/0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D/Data");
    EXPECT_EQ(paths.claudeCodeConfigDir(profile.id), "/s/Profiles/0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D/ClaudeCode");
    EXPECT_EQ(paths.appURL(profile), "/apps/Claude -.app");
    EXPECT_EQ(paths, AppPaths("/s", "/apps", "/Applications/Claude.app", "/orig"));
}
