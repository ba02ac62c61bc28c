#include "core/model/AppPaths.hpp"
#include "tests/support/ScopedEnvironment.hpp"

#include <gtest/gtest.h>

using namespace korvel;
using korvel::test::ScopedEnvironment;

TEST(AppPaths, LiveFollowsTheXdgEnvironment)
{
    ScopedEnvironment env;
    env.set("HOME", "/home/ada");
    env.set("XDG_DATA_HOME", "/x/data");
    env.set("XDG_CONFIG_HOME", "/x/config");
    env.set("KORVEL_CLAUDE_APP", "/opt/Claude.app");
    EXPECT_EQ(AppPaths::live(),
        AppPaths("/x/data/Korvel", "/home/ada/Applications/Claude Profiles", "/opt/Claude.app", "/x/config/Claude"));

    env.set("XDG_DATA_HOME", std::nullopt);
    env.set("XDG_CONFIG_HOME", "relative/is/ignored");
    env.set("KORVEL_CLAUDE_APP", std::nullopt);
    EXPECT_EQ(AppPaths::live(),
        AppPaths("/home/ada/.local/share/Korvel", "/home/ada/Applications/Claude Profiles", "/Applications/Claude.app",
            "/home/ada/.config/Claude"));
}

TEST(AppPaths, DerivedLocations)
{
    const AppPaths paths("/s", "/apps", "/Applications/Claude.app", "/orig");
    const Profile profile {*Uuid::parse("0b5a1f3c-7d2e-4c61-9a8b-3e4f5a6b7c8d"), "/", ProfileColor::Red, {}};
    const std::string folder = "/s/Profiles/0B5A1F3C-7D2E-4C61-9A8B-3E4F5A6B7C8D";
    EXPECT_EQ(paths.profilesFile(), "/s/profiles.json");
    EXPECT_EQ(paths.profileDir(profile.id), folder);
    EXPECT_EQ(paths.dataDir(profile.id), folder + "/Data");
    EXPECT_EQ(paths.claudeCodeConfigDir(profile.id), folder + "/ClaudeCode");
    EXPECT_EQ(paths.appURL(profile), "/apps/Claude -.app");
}
