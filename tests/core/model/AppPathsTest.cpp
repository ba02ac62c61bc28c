#include "core/model/AppPaths.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

using namespace korvel;

namespace {

// Sets environment variables for one test and restores them afterwards.
class ScopedEnv
{
public:
    void set(const char* name, const char* value)
    {
        const char* old = std::getenv(name);
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
            it->second ? ::setenv(it->first.c_str(), it->second->c_str(), 1) : ::unsetenv(it->first.c_str());
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

} // namespace

TEST(AppPaths, LiveFollowsTheXdgEnvironment)
{
    ScopedEnv env;
    env.set("HOME", "/home/ada");
    env.set("XDG_DATA_HOME", "/x/data");
    env.set("XDG_CONFIG_HOME", "/x/config");
    env.set("KORVEL_CLAUDE_APP", "/opt/Claude.app");
    const AppPaths paths = AppPaths::live();
    EXPECT_EQ(paths.supportDir, "/x/data/Korvel");
    EXPECT_EQ(paths.appsDir, "/home/ada/Applications/Claude Profiles");
    EXPECT_EQ(paths.sourceApp, "/opt/Claude.app");
    EXPECT_EQ(paths.originalDataDir, "/x/config/Claude");

    env.set("XDG_DATA_HOME", nullptr);
    env.set("XDG_CONFIG_HOME", "relative/is/ignored");
    env.set("KORVEL_CLAUDE_APP", nullptr);
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
